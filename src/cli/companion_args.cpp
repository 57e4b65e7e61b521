#include "cli/companion_args.h"

#include "cli/switches.h"

namespace kmeans {

std::string walk_companion_args(const std::vector<std::string>& args, CompanionArgs& a,
                                const std::function<std::string(const std::string& arg, const std::string& text)>& switches) {
    a.question = question_asked(args);
    if (a.question != Question::none) return "";
    bool have_centres = false;
    for (const std::string& arg : args) {
        if (!arg.empty() && (arg[0] == '-' || (arg[0] == '/' && slash_switch(arg)))) {
            std::string reason = switches(arg, arg.substr(1));
            if (!reason.empty()) return reason;
        } else if (!arg.empty() && arg[0] == '+') {
            std::string name = arg.substr(1);
            if (name.empty()) return "no centre file name after '+'";
            if (have_centres) return "more than one centre file: " + a.centres + " " + arg;
            have_centres = true;
            a.centres = name.find('.') == std::string::npos ? name + ".KMC" : name;
        } else {
            if (!a.data.empty()) return "more than one data file: " + a.data + " " + arg;
            a.data = arg;
        }
    }
    if (a.data.empty()) return "no data file given";
    return "";
}

}  // namespace kmeans
