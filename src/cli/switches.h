// The command line and the environment variable, turned into run parameters.
// All switches are collected first (walk_args, append_environment), then
// checked in one fixed order (evaluate_switches).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/params.h"

namespace kmeans {

// What the argument walk found besides the parameters.
struct ArgWalk {
    bool second_centre = false;         // stopped at a second "+" argument
    std::vector<std::string> messages;  // lines for standard error, in order
};

// Whether `arg`, which starts with '/', is switch text ("/K3") rather than a
// path: it holds no further '/' and names no existing file system entry.
// kmeans-plot follows the same rule.
bool slash_switch(const std::string& arg);

// Upper-cases in place: 'a'..'z', and the code page 437 letters 0x84, 0x86,
// 0x94 to 0x8E, 0x8F, 0x99. Every other byte stays.
void upcase(std::string& s);

// Classifies the arguments (the program's own name excluded): switch text
// ("-" or "/") is upper-cased and appended to p.invocation.switches, a "+" argument
// names the centre file, anything else is a data-file argument (expanded
// when it still holds '*' or '?'). Data-file and centre-file names keep the
// case they were typed in.
ArgWalk walk_args(Params& p, const std::vector<std::string>& args);

// Looks up the environment variable named p.invocation.program (ASCII letters compared
// without regard to case) in `envp` (a null-terminated "NAME=value" list),
// upper-cases its value into p.invocation.env_value and appends it to p.invocation.switches.
void append_environment(Params& p, const char* const* envp);

// The name of the environment variable that fixes the random seed.
constexpr const char* seed_variable = "KMEANS_SEED";

// The value of the environment variable `name` (compared exactly) in `envp`,
// or nullptr when it is not set.
const char* environment_value(const char* const* envp, const char* name);

// Reads a seed: decimal digits only (no sign, no blanks, at least one digit)
// with a value from 0 to 4294967295. Returns false for anything else.
bool parse_seed(const char* text, std::uint32_t& seed);

// The level of a level switch (D, U, Q) or the state of a flag (B, A, I) in
// `sw`: 0 when the letter is absent or followed by '-', else the decimal
// number after it, 0 read as 1.
int switch_level(const std::string& sw, char letter);

// Whether `letter` occurs anywhere in `sw` (switches T and C).
bool switch_present(const std::string& sw, char letter);

// The integer after the first `letter` in `sw`, read like C's atoi (leading
// white space, optional sign, digits; none gives 0; saturates at the int range).
int switch_int(const std::string& sw, char letter);

// The number after the first `letter` in `sw`: optional sign, digits with an
// optional decimal point, optional exponent "E" with optional sign and digits;
// no number gives 0. Read in double precision, then rounded to float.
float switch_float(const std::string& sw, char letter);

// One "INFO: Unknown character ..." line per character of `sw` that is no
// switch character, in string order.
std::vector<std::string> unknown_characters(const std::string& sw);

// The outcome of checking the switches in order.
struct SwitchCheck {
    std::vector<std::string> infos;  // INFO lines, in order
    int status = 0;                  // 0, or the exit status of the refusal
    std::string refusal;             // the PANIC line when status != 0
};

// Sets the presence switches T and C, then evaluates D, B, U, A, I, R, K, F,
// G, M in this order into `p`; stops at the first refused value. A value
// beyond the single-precision range (it reads as infinite) is refused like
// any other out-of-range value. (Q is read earlier, by read_command_line.)
SwitchCheck evaluate_switches(Params& p);

// After the switches: the seed variable's value `text` (nullptr when the
// variable is not set) into p.invocation.seed. A value parse_seed refuses is refused
// like a switch value, with "PANIC: KMEANS_SEED must be a whole number from 0
// to 4294967295: Value=%s\n" and status 4, unless `check` already holds a
// refusal (the first refusal wins).
void evaluate_seed(Params& p, const char* text, SwitchCheck& check);

// The environment variables that choose the start of SKM and AKM and the
// number of starts.
constexpr const char* init_variable = "KMEANS_INIT";
constexpr const char* restarts_variable = "KMEANS_RESTARTS";

// After the seed: the values of KMEANS_INIT (`init`: "random" or "kmeans++")
// and KMEANS_RESTARTS (`restarts`: a whole number from 1 to max_restarts)
// into p.clustering (nullptr: not set), checked in this order. Anything else
// is refused like a switch value, with "PANIC: KMEANS_INIT must be random or
// kmeans++: Value=%s\n" or "PANIC: KMEANS_RESTARTS must be a whole number
// from 1 to 1000: Value=%s\n" and status 4, unless `check` already holds a
// refusal.
void evaluate_starts(Params& p, const char* init, const char* restarts, SwitchCheck& check);

// The environment variables that set the threads, the memory budget and the
// search kernel.
constexpr const char* threads_variable = "KMEANS_THREADS";
constexpr const char* memory_variable = "KMEANS_MEMORY";
constexpr const char* spill_variable = "KMEANS_SPILL";
constexpr const char* kernel_variable = "KMEANS_KERNEL";
constexpr const char* prune_variable = "KMEANS_PRUNE";
constexpr std::int64_t max_memory_mb = std::int64_t{1} << 24;

// Every environment variable with a fixed name that a run reads, with what
// `--help` says of it (at most 61 characters, so that its line fits 80
// columns; the switch variable, named after the program, comes before
// them). A new variable is added here.
struct EnvironmentVariable {
    const char* name;
    const char* meaning;
};
constexpr EnvironmentVariable environment_variables[] = {
    {seed_variable, "random start seed, 0 to 4294967295 (default: the clock)"},
    {init_variable, "start of SKM and AKM: random (default) or kmeans++"},
    {restarts_variable, "starts of SKM and AKM, 1 to 1000; the best is kept"},
    {threads_variable, "threads, 1 to 1024 (default: one per processor)"},
    {memory_variable, "megabytes for rows kept in memory (default: half the memory)"},
    {kernel_variable, "search kernel of the run: portable, avx2 or avx512"},
    {prune_variable, "SKM skips rows whose centre cannot change: on (default), off"},
};

// After the seed: the values of KMEANS_THREADS (`threads`, 1 to max_threads),
// KMEANS_MEMORY (`memory`, megabytes from 0 to max_memory_mb) and
// KMEANS_KERNEL (`kernel`: "portable", "avx2" or "avx512") into
// p.resources (nullptr: not set), checked in this order. A value that is
// not such a whole number is refused like a switch value, with "PANIC:
// KMEANS_THREADS must be a whole number from 1 to 1024: Value=%s\n" or
// "PANIC: KMEANS_MEMORY must be a whole number of megabytes from 0 to
// 16777216: Value=%s\n", another kernel name with "PANIC: KMEANS_KERNEL must
// be portable, avx2 or avx512: Value=%s\n", and a kernel this processor
// cannot run with "PANIC: KMEANS_KERNEL=%s: this processor cannot run that
// kernel\n", each with status 4, unless `check` already holds a refusal.
void evaluate_resources(Params& p, const char* threads, const char* memory, const char* kernel,
                        SwitchCheck& check);

// After the resources: the value of KMEANS_PRUNE (`prune`: "on" or "off";
// nullptr: not set, on) into p.resources.prune. Anything else is refused
// with "PANIC: KMEANS_PRUNE must be on or off: Value=%s\n" and status 4,
// unless `check` already holds a refusal.
void evaluate_prune(Params& p, const char* prune, SwitchCheck& check);

}  // namespace kmeans
