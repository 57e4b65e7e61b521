#include "plot/plot.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>

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

// Ten hues told apart at a glance, in an order in which neighbours differ
// most: Tableau 10 without its grey (which marks the rows without a
// cluster), then a deep indigo. Clusters 11 to 20 take them again with
// another mark (cluster_mark), and so on.
constexpr const char* palette[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                   "#edc948", "#b07aa1", "#ff9da7", "#9c755f", "#3d2b7a"};
constexpr int palette_size = static_cast<int>(sizeof palette / sizeof palette[0]);
constexpr const char* no_cluster_colour = "#a5a5a5";
constexpr int mark_count = 4;

// Centre labels: bold digits of 13 units on a white halo 3.5 units wide.
// A digit is taken as 0.62 of the font size wide and 0.74 high (sans-serif
// digits are about 0.56 by 0.72), so that boxes kept apart show apart.
constexpr double label_font = 13;
constexpr double digit_width = 0.62 * label_font;
constexpr double digit_height = 0.74 * label_font;
constexpr double halo = 1.75;
constexpr double arm = 7;  // half the length of a centre cross's arms

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

// The longest name shown whole; a longer one is cut (at a character
// start) and ends in an ellipsis.
constexpr std::size_t name_bytes = 24;

// The name of variable `var` (1-based): its name from the header line, or
// "v3" when it has none (no header line, or an empty name).
std::string var_name(const PlotInput& in, int var) {
    const std::size_t i = static_cast<std::size_t>(var - 1);
    if (i < in.names.size() && !in.names[i].empty()) {
        const std::string& name = in.names[i];
        if (name.size() <= name_bytes) return name;
        std::size_t cut = name_bytes - 1;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        return name.substr(0, cut) + "\xE2\x80\xA6";
    }
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

// Appends the mark `m` centred at (x, y), of about the area of a circle of
// radius r, as one element with the further attributes `extra` (written as
// they are, after a blank; empty for none): a <circle>, a square <rect>, or
// a <path> for the triangle (pointing up) and the diamond.
void mark_at(std::string& out, Mark m, double x, double y, double r, std::string_view extra) {
    auto corner = [&](char op, double px_, double py_) {
        out += op;
        num(out, px_);
        out += ' ';
        num(out, py_);
    };
    switch (m) {
        case Mark::circle:
            out += "<circle";
            attr(out, "cx", x);
            attr(out, "cy", y);
            attr(out, "r", r);
            break;
        case Mark::square: {
            const double h = 0.886 * r;  // sqrt(pi) / 2
            out += "<rect";
            attr(out, "x", x - h);
            attr(out, "y", y - h);
            attr(out, "width", 2 * h);
            attr(out, "height", 2 * h);
            break;
        }
        case Mark::triangle: {
            const double a = 2.693 * r;  // the side of an equilateral triangle of area pi r^2
            const double h = 0.866 * a;  // its height; the centroid lies a third of it above the base
            out += "<path d=\"";
            corner('M', x, y - 2 * h / 3);
            corner('L', x + a / 2, y + h / 3);
            corner('L', x - a / 2, y + h / 3);
            out += "Z\"";
            break;
        }
        case Mark::diamond: {
            const double d = 1.253 * r;  // half the diagonal of a square of area pi r^2
            out += "<path d=\"";
            corner('M', x, y - d);
            corner('L', x + d, y);
            corner('L', x, y + d);
            corner('L', x - d, y);
            out += "Z\"";
            break;
        }
    }
    if (!extra.empty()) {
        out += ' ';
        out += extra;
    }
    out += "/>\n";
}

// The dots of one panel, one group per cluster (rows without a cluster
// first, underneath), each in its cluster's mark. x_of and y_of give a
// drawn row's position.
template <class X, class Y>
void panel_dots(std::string& out, const std::vector<std::vector<std::size_t>>& buckets, double radius,
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
        const Mark m = cluster_mark(k);
        for (std::size_t r : buckets[s]) mark_at(out, m, x_of(r), y_of(r), radius, "");
        out += "</g>\n";
    }
}

// A rectangle on the page.
struct Box {
    double x0, y0, x1, y1;
};

// The area two boxes share.
double shared_area(const Box& a, const Box& b) {
    const double w = std::min(a.x1, b.x1) - std::max(a.x0, b.x0);
    const double h = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
    return w > 0 && h > 0 ? w * h : 0;
}

// The area of `b` outside `in`.
double area_outside(const Box& b, const Box& in) { return (b.x1 - b.x0) * (b.y1 - b.y0) - shared_area(b, in); }

// The width of a label of `text` and the box it covers with its halo when
// it starts at x on the baseline y.
double label_width(const std::string& text) { return digit_width * static_cast<double>(text.size()); }
Box label_box(double x, double y, double w) { return {x - halo, y - digit_height - halo, x + w + halo, y + halo}; }

// Boxes sorted into square cells over an area, so that a box is compared
// only with those near it (a picture may hold hundreds of centres). Boxes
// beyond the area fall into its edge cells.
struct BoxGrid {
    Box area;
    double cell = 24;
    int cols = 1, rows = 1;
    std::vector<std::vector<Box>> cells;

    explicit BoxGrid(const Box& a) : area(a) {
        cols = std::clamp(static_cast<int>((a.x1 - a.x0) / cell) + 1, 1, 256);
        rows = std::clamp(static_cast<int>((a.y1 - a.y0) / cell) + 1, 1, 256);
        cells.resize(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
    }
    int col(double x) const { return std::clamp(static_cast<int>((x - area.x0) / cell), 0, cols - 1); }
    int row(double y) const { return std::clamp(static_cast<int>((y - area.y0) / cell), 0, rows - 1); }
    std::size_t index(int c, int r) const {
        return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c);
    }
    std::vector<Box>& at(int c, int r) { return cells[index(c, r)]; }
    const std::vector<Box>& at(int c, int r) const { return cells[index(c, r)]; }

    // Files `b` in every cell it touches.
    void add(const Box& b) {
        for (int r = row(b.y0); r <= row(b.y1); ++r)
            for (int c = col(b.x0); c <= col(b.x1); ++c) at(c, r).push_back(b);
    }

    // The area `b` shares with the boxes filed, each box counted once: in
    // the cell of the top left corner of what the two share.
    double shared(const Box& b) const {
        double sum = 0;
        for (int r = row(b.y0); r <= row(b.y1); ++r) {
            for (int c = col(b.x0); c <= col(b.x1); ++c) {
                for (const Box& q : at(c, r)) {
                    const double a = shared_area(b, q);
                    if (a > 0 && col(std::max(b.x0, q.x0)) == c && row(std::max(b.y0, q.y0)) == r) sum += a;
                }
            }
        }
        return sum;
    }
};

// Where a centre label starts (x, its baseline y), and whether it stands
// so far from its mark that a line leads to it.
struct Spot {
    double x = 0, y = 0;
    bool leader = false;
};

// Chooses one spot for every label, in order, from its `candidates` (the
// preferred first): the spot whose box shares the least with the labels
// placed before it, then lies least outside `area`, then covers least of
// the `obstacles` (the centre marks), each of these weighed far above the
// next, with `step` added per candidate so that a nearer spot wins a close
// call; of equal ones the first. So labels never run together while there
// is room for them, and a label stands beside its mark when that is free.
std::vector<Spot> place_labels(const std::vector<std::vector<Spot>>& candidates, const std::vector<double>& widths,
                               const std::vector<Box>& obstacles, const Box& area, double step) {
    std::vector<Spot> chosen;
    BoxGrid placed(area), marks(area);
    for (const Box& q : obstacles) marks.add(q);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        double best = 0;
        std::size_t pick = 0;
        for (std::size_t c = 0; c < candidates[i].size(); ++c) {
            const Box b = label_box(candidates[i][c].x, candidates[i][c].y, widths[i]);
            const double cost = placed.shared(b) * 1e6 + area_outside(b, area) * 1e3 + marks.shared(b) +
                                step * static_cast<double>(c);
            if (c == 0 || cost < best) {
                best = cost;
                pick = c;
            }
        }
        chosen.push_back(candidates[i][pick]);
        placed.add(label_box(chosen.back().x, chosen.back().y, widths[i]));
    }
    return chosen;
}

// The spots around a centre mark at (x, y) for a label `w` wide, nearest
// first: above right (where a label stands when nothing is in the way),
// below right, above left, below left, right, left, above, below, then the
// same farther out; from the second ring on a line leads to the label.
std::vector<Spot> spots_around(double x, double y, double w) {
    std::vector<Spot> spots;
    const double h = digit_height;
    const double rings[] = {arm, 2.3 * arm, 3.7 * arm, 5.4 * arm};
    for (std::size_t r = 0; r < std::size(rings); ++r) {
        const double d = rings[r];
        const bool leader = r > 0;
        for (const auto& [sx, sy] : {std::pair{x + d, y - d}, std::pair{x + d, y + d + h}, std::pair{x - d - w, y - d},
                                     std::pair{x - d - w, y + d + h}, std::pair{x + d + 2, y + h / 2},
                                     std::pair{x - d - 2 - w, y + h / 2}, std::pair{x - w / 2, y - d - 2},
                                     std::pair{x - w / 2, y + d + 2 + h}})
            spots.push_back({sx, sy, leader});
    }
    return spots;
}

// The arms of a centre cross at (x, y), with their dark outline.
void cross_boxes(std::vector<Box>& out, double x, double y) {
    out.push_back({x - arm, y - 2.5, x + arm, y + 2.5});
    out.push_back({x - 2.5, y - arm, x + 2.5, y + arm});
}

// A centre label at `at`, on its halo; a thin line leads to it from the
// mark at (x, y) when it stands apart.
void centre_label(std::string& out, int k, double x, double y, const Spot& at) {
    const std::string label = std::to_string(k);
    if (at.leader) {
        const Box b = label_box(at.x, at.y, label_width(label));
        // To the nearest point of the label's box.
        const double lx = std::clamp(x, b.x0, b.x1), ly = std::clamp(y, b.y0, b.y1);
        out += "<path d=\"M";
        num(out, x);
        out += ' ';
        num(out, y);
        out += 'L';
        num(out, lx);
        out += ' ';
        num(out, ly);
        out += "\" stroke=\"#444\" stroke-width=\"0.8\"/>\n";
    }
    text_at(out, at.x, at.y,
            "font-size=\"13\" font-weight=\"bold\" fill=\"#fff\" stroke=\"#fff\" stroke-width=\"3.5\" "
            "stroke-linejoin=\"round\"",
            label);
    text_at(out, at.x, at.y, "font-size=\"13\" font-weight=\"bold\" fill=\"#111\"", label);
}

// A centre: a cross in its cluster's colour, outlined dark so that it shows
// on dots of any colour, and its number on a light halo at `at`.
void centre_cross(std::string& out, int k, double x, double y, const Spot& at) {
    std::string d = "M";
    num(d, x - arm);
    d += ' ';
    num(d, y);
    d += "h14M";
    num(d, x);
    d += ' ';
    num(d, y - arm);
    d += "v14";
    out += "<g class=\"centre " + class_of(k) + "\">";
    out += "<path d=\"" + d + "\" stroke=\"#222\" stroke-width=\"5\"/>";
    out += "<path d=\"" + d + "\" stroke=\"" + cluster_colour(k) + "\" stroke-width=\"2.4\"/>\n";
    centre_label(out, k, x, y, at);
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
            var_name(in, in.vars[j]));
    text_at(out, cx, name_y + 20, "font-size=\"12\" fill=\"#555\" text-anchor=\"middle\"",
            value_text(in.lo[j]) + " \xE2\x80\x93 " + value_text(in.hi[j]));
}

// Dot size and opacity for `n` drawn rows: larger and more opaque when few.
double dot_radius(std::size_t n, double panel) {
    double r = n <= 300 ? 2.8 : n <= 2000 ? 2.1 : n <= 8000 ? 1.6 : 1.2;
    if (panel > 300) r *= 1.3;
    return r;
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

Mark cluster_mark(int k) {
    if (k < 1) return Mark::circle;
    return static_cast<Mark>((k - 1) / palette_size % mark_count);
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
    const double radius = dot_radius(n, size);
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
        // Each label above its line at the right end, else below it, else
        // moved to the left along it, as far as it must.
        std::vector<std::vector<Spot>> candidates;
        std::vector<double> widths;
        for (int k = 1; k <= in.K; ++k) {
            const double y = py(p, frac(in.centres[static_cast<std::size_t>(k - 1)], in.lo[0], in.hi[0]));
            const double w = label_width(std::to_string(k));
            widths.push_back(w);
            candidates.emplace_back();
            for (int shift = 0; shift < 24; ++shift) {
                const double x = p.x0 + p.size - 6 - w - shift * (digit_width + 2 * halo + 2);
                candidates.back().push_back({x, y - 5, false});
                candidates.back().push_back({x, y + 5 + digit_height, false});
            }
        }
        const Box inside{p.x0, p.y0, p.x0 + p.size, p.y0 + p.size};
        const std::vector<Spot> spots = place_labels(candidates, widths, {}, inside, 1);
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
            centre_label(out, k, p.x0 + p.size, y, spots[static_cast<std::size_t>(k - 1)]);
            out += "</g>\n";
        }
        bottom_axis(out, p, 1, rows_hi, "row");
        left_axis(out, p, in.lo[0], in.hi[0], var_name(in, in.vars[0]));
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
                    std::vector<double> cx, cy, widths;
                    std::vector<Box> crosses;
                    std::vector<std::vector<Spot>> candidates;
                    for (int k = 1; k <= in.K; ++k) {
                        const float* c = &in.centres[static_cast<std::size_t>(k - 1) * nv];
                        cx.push_back(px(p, frac(c[b], in.lo[b], in.hi[b])));
                        cy.push_back(py(p, frac(c[a], in.lo[a], in.hi[a])));
                        widths.push_back(label_width(std::to_string(k)));
                        cross_boxes(crosses, cx.back(), cy.back());
                        candidates.push_back(spots_around(cx.back(), cy.back(), widths.back()));
                    }
                    const Box inside{p.x0, p.y0, p.x0 + p.size, p.y0 + p.size};
                    const std::vector<Spot> spots = place_labels(candidates, widths, crosses, inside, 4);
                    for (std::size_t k = 0; k < cx.size(); ++k)
                        centre_cross(out, static_cast<int>(k) + 1, cx[k], cy[k], spots[k]);
                }
                if (a + 1 == nv) bottom_axis(out, p, in.lo[b], in.hi[b], var_name(in, in.vars[b]));
                if (b == 0) left_axis(out, p, in.lo[a], in.hi[a], var_name(in, in.vars[a]));
                out += "</g>\n";
            }
        }
    }

    // The legend, row by row below the panels.
    for (std::size_t e = 0; e < entries.size(); ++e) {
        int k = entries[e];
        double x = left + static_cast<double>(e % static_cast<std::size_t>(per_row)) * column;
        double y = legend_top + static_cast<double>(e / static_cast<std::size_t>(per_row)) * legend_row;
        // The cluster's mark, 12 units across; a circle as a fully rounded
        // square, so that the <circle> elements are the dots alone.
        const std::string fill = "fill=\"" + std::string(cluster_colour(k)) + "\"";
        if (cluster_mark(k) == Mark::circle) {
            out += "<rect";
            attr(out, "x", x);
            attr(out, "y", y - 11);
            out += " width=\"12\" height=\"12\" rx=\"6\" " + fill + "/>\n";
        } else {
            mark_at(out, cluster_mark(k), x + 6, y - 5, 6, fill);
        }
        text_at(out, x + 18, y, "class=\"legend " + class_of(k) + "\" font-size=\"14\" fill=\"#222\"",
                legend_label(in, k));
    }
    out += "</svg>\n";
    return out;
}

}  // namespace kmeans
