#include "plot/plot.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "plot/svg.h"

namespace kmeans {

namespace {

// Page geometry, in SVG user units (pixels). The matrix of panels fills a
// square of `matrix` units; the legend rows below it make the page taller.
constexpr double page_width = 900;
constexpr double left = 42;     // room for the rotated tick labels
constexpr double top = 52;      // room for the title
constexpr double matrix = 836;  // page_width - left - right margin
constexpr double gap = 12;      // between panels
constexpr double pad = 7;       // inside a panel, so that edge dots stay whole
constexpr double legend_column = 180;  // the narrowest legend column
constexpr double legend_row = 22;
constexpr int hist_bins = 20;

// Tableau 10 without its grey, which marks the rows without a cluster.
constexpr const char* palette[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                   "#edc948", "#b07aa1", "#ff9da7", "#9c755f"};
constexpr int palette_size = static_cast<int>(sizeof palette / sizeof palette[0]);
constexpr const char* no_cluster_colour = "#a5a5a5";

// One square panel of the matrix.
struct Panel {
    double x0, y0, size;
};

// Where `v` lies between lo and hi, from 0 to 1; the middle when the range is empty.
double frac(double v, double lo, double hi) { return hi > lo ? (v - lo) / (hi - lo) : 0.5; }

// The x and y coordinates of the fraction f (0 to 1) along panel p's axes.
double px(const Panel& p, double f) { return p.x0 + pad + f * (p.size - 2 * pad); }
double py(const Panel& p, double f) { return p.y0 + p.size - pad - f * (p.size - 2 * pad); }

// The class of cluster k: "k3", or "knone" for -1.
// (Built by appending: "k" + std::to_string(k) trips a false -Wrestrict in GCC 12.)
std::string class_of(int k) {
    std::string s = k < 0 ? "knone" : "k";
    if (k >= 0) s += std::to_string(k);
    return s;
}

// Index of cluster k in counts and buckets: 0 for -1, else k.
std::size_t slot_of(int k) { return k < 0 ? 0 : static_cast<std::size_t>(k); }

// Appends a coordinate or size: one decimal is finer than a pixel.
void num(std::string& out, double v) { svg_fixed(out, v, 1); }

// Appends ` name="v"`.
void attr(std::string& out, const char* name, double v) {
    out += ' ';
    out += name;
    out += "=\"";
    num(out, v);
    out += '"';
}

// Appends a <text> element at (x, y) with further attributes `extra` (written
// as they are) and the escaped content.
void text_at(std::string& out, double x, double y, std::string_view extra, std::string_view content) {
    out += "<text";
    attr(out, "x", x);
    attr(out, "y", y);
    out += ' ';
    out += extra;
    out += '>';
    svg_text(out, content);
    out += "</text>\n";
}

// The same text turned a quarter to the left, so that it reads upwards.
void text_up(std::string& out, double x, double y, std::string_view extra, std::string_view content) {
    out += "<text";
    attr(out, "x", x);
    attr(out, "y", y);
    out += " transform=\"rotate(-90 ";
    num(out, x);
    out += ' ';
    num(out, y);
    out += ")\" ";
    out += extra;
    out += '>';
    svg_text(out, content);
    out += "</text>\n";
}

// A data value as a label.
std::string value_text(double v) {
    std::string s;
    svg_value(s, v);
    return s;
}

// The name of variable `var` (1-based): "v3".
std::string var_name(int var) {
    std::string s = "v";
    s += std::to_string(var);
    return s;
}

// The background and border of panel p.
void panel_frame(std::string& out, const Panel& p, const char* fill) {
    out += "<rect";
    attr(out, "x", p.x0);
    attr(out, "y", p.y0);
    attr(out, "width", p.size);
    attr(out, "height", p.size);
    out += " fill=\"";
    out += fill;
    out += "\" stroke=\"#b4b4b4\"/>\n";
}

// Tick marks and labels of the horizontal axis below panel p: the range's
// ends at the panel's edges and the axis name between them.
void bottom_axis(std::string& out, const Panel& p, double lo, double hi, const std::string& name) {
    double y = p.y0 + p.size;
    out += "<path d=\"M";
    num(out, px(p, 0));
    out += ' ';
    num(out, y);
    out += "v5M";
    num(out, px(p, 1));
    out += ' ';
    num(out, y);
    out += "v5\" stroke=\"#777\"/>\n";
    text_at(out, px(p, 0), y + 17, "font-size=\"11\" fill=\"#444\"", value_text(lo));
    text_at(out, px(p, 1), y + 17, "font-size=\"11\" fill=\"#444\" text-anchor=\"end\"", value_text(hi));
    text_at(out, p.x0 + p.size / 2, y + 17, "font-size=\"12\" font-weight=\"bold\" fill=\"#333\" text-anchor=\"middle\"",
            name);
}

// The same for the vertical axis left of panel p, its labels reading upwards.
void left_axis(std::string& out, const Panel& p, double lo, double hi, const std::string& name) {
    double x = p.x0;
    out += "<path d=\"M";
    num(out, x - 5);
    out += ' ';
    num(out, py(p, 0));
    out += "h5M";
    num(out, x - 5);
    out += ' ';
    num(out, py(p, 1));
    out += "h5\" stroke=\"#777\"/>\n";
    text_up(out, x - 8, py(p, 0), "font-size=\"11\" fill=\"#444\"", value_text(lo));
    text_up(out, x - 8, py(p, 1), "font-size=\"11\" fill=\"#444\" text-anchor=\"end\"", value_text(hi));
    text_up(out, x - 8, p.y0 + p.size / 2, "font-size=\"12\" font-weight=\"bold\" fill=\"#333\" text-anchor=\"middle\"",
            name);
}

// The dots of one panel, one group per cluster (rows without a cluster
// first, underneath). x_of and y_of give a drawn row's position.
template <class X, class Y>
void panel_dots(std::string& out, const std::vector<std::vector<std::size_t>>& buckets, const std::string& radius,
                const char* opacity, X&& x_of, Y&& y_of) {
    for (std::size_t s = 0; s < buckets.size(); ++s) {
        if (buckets[s].empty()) continue;
        int k = s == 0 ? -1 : static_cast<int>(s);
        out += "<g class=\"dots ";
        out += class_of(k);
        out += "\" fill=\"";
        out += cluster_colour(k);
        out += "\" fill-opacity=\"";
        out += opacity;
        out += "\">\n";
        for (std::size_t r : buckets[s]) {
            out += "<circle";
            attr(out, "cx", x_of(r));
            attr(out, "cy", y_of(r));
            out += " r=\"";
            out += radius;
            out += "\"/>\n";
        }
        out += "</g>\n";
    }
}

// A centre: a cross in its cluster's colour, outlined dark so that it shows
// on dots of any colour, and its number on a light halo.
void centre_cross(std::string& out, int k, double x, double y) {
    std::string d = "M";
    num(d, x - 7);
    d += ' ';
    num(d, y);
    d += "h14M";
    num(d, x);
    d += ' ';
    num(d, y - 7);
    d += "v14";
    out += "<g class=\"centre " + class_of(k) + "\">";
    out += "<path d=\"" + d + "\" stroke=\"#222\" stroke-width=\"5\"/>";
    out += "<path d=\"" + d + "\" stroke=\"" + cluster_colour(k) + "\" stroke-width=\"2.4\"/>\n";
    std::string label = std::to_string(k);
    text_at(out, x + 7, y - 7,
            "font-size=\"13\" font-weight=\"bold\" fill=\"#fff\" stroke=\"#fff\" stroke-width=\"3.5\" "
            "stroke-linejoin=\"round\"",
            label);
    text_at(out, x + 7, y - 7, "font-size=\"13\" font-weight=\"bold\" fill=\"#111\"", label);
    out += "</g>\n";
}

// The diagonal panel of shown variable j: its name, its range and a
// histogram of the drawn rows, each bar stacked by cluster.
void diagonal_panel(std::string& out, const PlotInput& in, const Panel& p, std::size_t j) {
    const std::size_t nv = in.vars.size();
    const std::size_t n = in.cluster.size();
    const std::size_t slots = static_cast<std::size_t>(in.K) + 1;
    std::vector<std::int64_t> bins(hist_bins * slots, 0);
    std::vector<std::int64_t> totals(hist_bins, 0);
    for (std::size_t r = 0; r < n; ++r) {
        double f = frac(in.values[r * nv + j], in.lo[j], in.hi[j]);
        int b = std::clamp(static_cast<int>(f * hist_bins), 0, hist_bins - 1);
        ++bins[static_cast<std::size_t>(b) * slots + slot_of(in.cluster[r])];
        ++totals[static_cast<std::size_t>(b)];
    }
    std::int64_t tallest = *std::max_element(totals.begin(), totals.end());
    const double base = p.y0 + p.size - pad;
    const double full = 0.55 * (p.size - 2 * pad);
    const double bar = (p.size - 2 * pad) / hist_bins;
    for (int b = 0; b < hist_bins && tallest > 0; ++b) {
        double y = base;
        for (std::size_t s = 0; s < slots; ++s) {
            std::int64_t c = bins[static_cast<std::size_t>(b) * slots + s];
            if (c == 0) continue;
            double h = full * static_cast<double>(c) / static_cast<double>(tallest);
            y -= h;
            out += "<rect";
            attr(out, "x", p.x0 + pad + b * bar + 0.5);
            attr(out, "y", y);
            attr(out, "width", bar - 1);
            attr(out, "height", h);
            out += " fill=\"";
            out += cluster_colour(s == 0 ? -1 : static_cast<int>(s));
            out += "\"/>\n";
        }
    }
    double cx = p.x0 + p.size / 2;
    double name_y = p.y0 + 0.12 * p.size + 20;
    text_at(out, cx, name_y, "font-size=\"22\" font-weight=\"bold\" fill=\"#333\" text-anchor=\"middle\"",
            var_name(in.vars[j]));
    text_at(out, cx, name_y + 20, "font-size=\"12\" fill=\"#555\" text-anchor=\"middle\"",
            value_text(in.lo[j]) + " \xE2\x80\x93 " + value_text(in.hi[j]));
}

// Dot size and opacity for `n` drawn rows: larger and more opaque when few.
std::string dot_radius(std::size_t n, double panel) {
    double r = n <= 300 ? 2.8 : n <= 2000 ? 2.1 : n <= 8000 ? 1.6 : 1.2;
    if (panel > 300) r *= 1.3;
    std::string s;
    num(s, r);
    return s;
}

const char* dot_opacity(std::size_t n) { return n <= 2000 ? "0.8" : "0.55"; }

// The legend text of cluster k (-1: the rows without a cluster).
std::string legend_label(const PlotInput& in, int k) {
    std::string label = k < 0 ? std::string("-1 (no cluster)") : std::to_string(k);
    std::int64_t n = in.counts[slot_of(k)];
    label += ": " + std::to_string(n) + (n == 1 ? " row" : " rows");
    return label;
}

// The title: the caller's part, K, and the rows (or the sample taken).
std::string title_text(const PlotInput& in) {
    std::string t = in.title + ": K = " + std::to_string(in.K);
    auto drawn = static_cast<std::int64_t>(in.cluster.size());
    if (drawn < in.total_rows)
        t += " (sample of " + std::to_string(drawn) + " of " + std::to_string(in.total_rows) + " rows)";
    else
        t += ", " + std::to_string(in.total_rows) + " rows";
    return t;
}

}  // namespace

const char* cluster_colour(int k) {
    if (k < 1) return no_cluster_colour;
    return palette[(k - 1) % palette_size];
}

std::string plot_svg(const PlotInput& in) {
    const std::size_t nv = in.vars.size();
    const std::size_t n = in.cluster.size();
    const bool strip = nv == 1;
    const std::size_t panels = strip ? 1 : nv;
    const double size = (matrix - gap * static_cast<double>(panels - 1)) / static_cast<double>(panels);

    // The legend: rows without a cluster (when there are any), then every cluster.
    std::vector<int> entries;
    if (!in.counts.empty() && in.counts[0] > 0) entries.push_back(-1);
    for (int k = 1; k <= in.K; ++k) entries.push_back(k);
    // Columns as wide as the longest entry needs (about 8.2 units per
    // character at the legend's font size), as many as fit across.
    std::size_t longest = 0;
    for (int k : entries) longest = std::max(longest, legend_label(in, k).size());
    const double column = std::max(legend_column, 30 + 8.2 * static_cast<double>(longest));
    const int per_row = std::max(1, static_cast<int>(matrix / column));
    const int legend_rows = (static_cast<int>(entries.size()) + per_row - 1) / per_row;
    const double legend_top = top + matrix + 48;
    const double height = legend_top + legend_rows * legend_row + 8;

    // The drawn rows of every cluster, in row order.
    std::vector<std::vector<std::size_t>> buckets(static_cast<std::size_t>(in.K) + 1);
    for (std::size_t r = 0; r < n; ++r) buckets[slot_of(in.cluster[r])].push_back(r);
    const std::string radius = dot_radius(n, size);
    const char* opacity = dot_opacity(n);

    std::string out;
    out.reserve(4096 + n * panels * panels * 44);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\"";
    attr(out, "width", page_width);
    attr(out, "height", height);
    out += " viewBox=\"0 0 ";
    num(out, page_width);
    out += ' ';
    num(out, height);
    out += "\" font-family=\"sans-serif\">\n";
    const std::string title = title_text(in);
    out += "<title>";
    svg_text(out, title);
    out += "</title>\n";
    out += "<rect x=\"0\" y=\"0\"";
    attr(out, "width", page_width);
    attr(out, "height", height);
    out += " fill=\"#fff\"/>\n";
    text_at(out, left, 32, "class=\"title\" font-size=\"18\" font-weight=\"bold\" fill=\"#222\"", title);

    if (strip) {
        // One variable: its value against the row number.
        Panel p{left, top, size};
        double rows_hi = static_cast<double>(std::max<std::int64_t>(in.total_rows, 1));
        out += "<g class=\"panel\">\n";
        panel_frame(out, p, "#fbfbfb");
        auto x_of = [&](std::size_t r) { return px(p, frac(static_cast<double>(in.row[r] + 1), 1, rows_hi)); };
        auto y_of = [&](std::size_t r) { return py(p, frac(in.values[r], in.lo[0], in.hi[0])); };
        panel_dots(out, buckets, radius, opacity, x_of, y_of);
        for (int k = 1; k <= in.K; ++k) {
            double y = py(p, frac(in.centres[static_cast<std::size_t>(k - 1)], in.lo[0], in.hi[0]));
            out += "<g class=\"centre " + class_of(k) + "\"><path d=\"M";
            num(out, p.x0 + 1);
            out += ' ';
            num(out, y);
            out += 'H';
            num(out, p.x0 + p.size - 1);
            out += "\" stroke=\"";
            out += cluster_colour(k);
            out += "\" stroke-width=\"2\" stroke-dasharray=\"8 4\"/>\n";
            text_at(out, p.x0 + p.size - 6, y - 5,
                    "font-size=\"13\" font-weight=\"bold\" fill=\"#111\" text-anchor=\"end\"", std::to_string(k));
            out += "</g>\n";
        }
        bottom_axis(out, p, 1, rows_hi, "row");
        left_axis(out, p, in.lo[0], in.hi[0], var_name(in.vars[0]));
        out += "</g>\n";
    } else {
        for (std::size_t a = 0; a < nv; ++a) {      // panel row: variable a up
            for (std::size_t b = 0; b < nv; ++b) {  // panel column: variable b across
                Panel p{left + static_cast<double>(b) * (size + gap), top + static_cast<double>(a) * (size + gap),
                        size};
                out += "<g class=\"panel\">\n";
                if (a == b) {
                    panel_frame(out, p, "#f2f2f2");
                    diagonal_panel(out, in, p, a);
                } else {
                    panel_frame(out, p, "#fbfbfb");
                    auto x_of = [&](std::size_t r) { return px(p, frac(in.values[r * nv + b], in.lo[b], in.hi[b])); };
                    auto y_of = [&](std::size_t r) { return py(p, frac(in.values[r * nv + a], in.lo[a], in.hi[a])); };
                    panel_dots(out, buckets, radius, opacity, x_of, y_of);
                    for (int k = 1; k <= in.K; ++k) {
                        const float* c = &in.centres[static_cast<std::size_t>(k - 1) * nv];
                        centre_cross(out, k, px(p, frac(c[b], in.lo[b], in.hi[b])),
                                     py(p, frac(c[a], in.lo[a], in.hi[a])));
                    }
                }
                if (a + 1 == nv) bottom_axis(out, p, in.lo[b], in.hi[b], var_name(in.vars[b]));
                if (b == 0) left_axis(out, p, in.lo[a], in.hi[a], var_name(in.vars[a]));
                out += "</g>\n";
            }
        }
    }

    // The legend, row by row below the panels.
    for (std::size_t e = 0; e < entries.size(); ++e) {
        int k = entries[e];
        double x = left + static_cast<double>(e % static_cast<std::size_t>(per_row)) * column;
        double y = legend_top + static_cast<double>(e / static_cast<std::size_t>(per_row)) * legend_row;
        out += "<rect";
        attr(out, "x", x);
        attr(out, "y", y - 11);
        out += " width=\"12\" height=\"12\" rx=\"3\" fill=\"";
        out += cluster_colour(k);
        out += "\"/>\n";
        text_at(out, x + 18, y, "class=\"legend " + class_of(k) + "\" font-size=\"14\" fill=\"#222\"",
                legend_label(in, k));
    }
    out += "</svg>\n";
    return out;
}

}  // namespace kmeans
