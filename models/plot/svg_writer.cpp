// The SVG writer.

#include "svg_writer.h"

#include "replaced_file.h"
#include "text_encoding.h"

#include <cmath>
#include <cstdio>

namespace models {

namespace {

// A number for an attribute: two decimals at most, no trailing zeros.
std::string num(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0')
            s.pop_back();
        if (s.back() == '.')
            s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

bool finite(plot_point p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

std::string colour(plot_color c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

void write_rect(std::string& out, const scene_rect& r) {
    if (!finite(r.corner) || !std::isfinite(r.width) || !std::isfinite(r.height))
        return;
    out += "<rect x=\"" + num(r.corner.x) + "\" y=\"" + num(r.corner.y) + "\" width=\"" +
           num(r.width) + "\" height=\"" + num(r.height) + "\" fill=\"none\" stroke=\"" +
           colour(r.stroke) + "\" stroke-width=\"" + num(r.stroke_width) + "\"/>\n";
}

void write_line(std::string& out, const scene_line& l) {
    if (!finite(l.from) || !finite(l.to))
        return;
    out += "<line x1=\"" + num(l.from.x) + "\" y1=\"" + num(l.from.y) + "\" x2=\"" + num(l.to.x) +
           "\" y2=\"" + num(l.to.y) + "\" stroke=\"" + colour(l.color) + "\" stroke-width=\"" +
           num(l.width) + "\"" + (l.dashed ? " stroke-dasharray=\"5 4\"" : "") + "/>\n";
}

void write_markers(std::string& out, const scene_markers& m) {
    out += "<g fill=\"" + colour(m.fill) + "\" stroke=\"none\">\n";
    const std::string radius = num(m.radius);
    for (const plot_point& p : m.centres) {
        if (finite(p))
            out +=
                "<circle cx=\"" + num(p.x) + "\" cy=\"" + num(p.y) + "\" r=\"" + radius + "\"/>\n";
    }
    out += "</g>\n";
}

void write_polyline(std::string& out, const scene_polyline& l) {
    out += "<polyline fill=\"none\" stroke=\"" + colour(l.color) + "\" stroke-width=\"" +
           num(l.width) + "\" stroke-linejoin=\"round\"" +
           (l.dashed ? " stroke-dasharray=\"5 4\"" : "") + " points=\"";
    bool first = true;
    for (const plot_point& p : l.points) {
        if (!finite(p))
            continue;
        if (!first)
            out += ' ';
        out += num(p.x) + "," + num(p.y);
        first = false;
    }
    out += "\"/>\n";
}

void write_text(std::string& out, const scene_text& t) {
    if (!finite(t.anchor) || t.text.empty())
        return;
    static const char* const anchors[] = {"start", "middle", "end"};
    const std::string x = num(t.anchor.x);
    const std::string y = num(t.anchor.y);
    out += "<text x=\"" + x + "\" y=\"" + y + "\" font-size=\"" + num(t.size) +
           "\" text-anchor=\"" + anchors[static_cast<int>(t.align)] + "\" fill=\"" +
           colour(t.color) + "\"";
    if (t.bold)
        out += " font-weight=\"bold\"";
    if (t.vertical)
        out += " transform=\"rotate(-90 " + x + " " + y + ")\"";
    out += ">" + xml_escape(t.text) + "</text>\n";
}

} // namespace

std::string xml_escape(const std::string& raw) {
    const std::string text = as_utf8(raw);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\t':
            out += ' ';
            break;
        default:
            if (c >= 0x20)
                out += static_cast<char>(c);
        }
        ++i;
    }
    return out;
}

std::string svg_document(const plot_scene& scene) {
    const std::string width = num(scene.width);
    const std::string height = num(scene.height);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + width +
           "\" height=\"" + height + "\" viewBox=\"0 0 " + width + " " + height +
           "\" font-family=\"Arial, Helvetica, sans-serif\">\n";
    out += "<title>" + xml_escape(scene.title) + "</title>\n";
    out += "<rect x=\"0\" y=\"0\" width=\"" + width + "\" height=\"" + height + "\" fill=\"" +
           colour(scene.background) + "\"/>\n";
    for (const scene_rect& r : scene.rects)
        write_rect(out, r);
    for (const scene_line& l : scene.lines)
        write_line(out, l);
    for (const scene_markers& m : scene.markers)
        write_markers(out, m);
    for (const scene_polyline& l : scene.polylines)
        write_polyline(out, l);
    for (const scene_text& t : scene.texts)
        write_text(out, t);
    out += "</svg>\n";
    return out;
}

svg_write_result write_svg_file(const std::string& path, const plot_scene& scene) {
    svg_write_result result;
    if (path.empty()) {
        result.error = "no file name for the plot";
        return result;
    }
    replaced_file file;
    if (file.open(path)) {
        file.write(svg_document(scene));
        result.ok = file.finish();
    }
    result.error = file.error();
    return result;
}

} // namespace models
