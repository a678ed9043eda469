// The SVG writer: well-formed documents that render, escaped text, and files
// that appear whole or not at all.

#include "svg_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace models {
namespace {

// What is wrong with a document as XML (declaration, one root, tags nested
// and closed, attribute values quoted, '<' and '&' only as markup and
// entities), or empty when it is well-formed.
std::string xml_problem(const std::string& doc) {
    if (doc.rfind("<?xml ", 0) != 0)
        return "no XML declaration";
    std::size_t i = doc.find("?>");
    std::vector<std::string> open;
    int roots = 0;
    auto name_at = [&](std::size_t& k) {
        const std::size_t start = k;
        while (k < doc.size() && (std::isalnum(static_cast<unsigned char>(doc[k])) ||
                                  doc[k] == '-' || doc[k] == ':' || doc[k] == '_'))
            ++k;
        return doc.substr(start, k - start);
    };
    auto entities_ok = [](const std::string& text) {
        for (std::size_t a = text.find('&'); a != std::string::npos; a = text.find('&', a + 1)) {
            const std::size_t end = text.find(';', a);
            const std::string entity = end == std::string::npos ? "" : text.substr(a, end - a + 1);
            if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;" &&
                entity != "&apos;")
                return false;
        }
        return true;
    };
    for (i += 2; i < doc.size();) {
        const std::size_t lt = doc.find('<', i);
        const std::string text =
            doc.substr(i, lt == std::string::npos ? std::string::npos : lt - i);
        if (!entities_ok(text) || text.find('>') != std::string::npos)
            return "bad character data: " + text;
        if (open.empty() && text.find_first_not_of(" \n") != std::string::npos)
            return "text outside the root";
        if (lt == std::string::npos)
            break;
        std::size_t k = lt + 1;
        if (doc[k] == '/') {
            ++k;
            const std::string name = name_at(k);
            if (open.empty() || open.back() != name || doc[k] != '>')
                return "unexpected </" + name + ">";
            open.pop_back();
            i = k + 1;
            continue;
        }
        const std::string name = name_at(k);
        if (name.empty())
            return "bad tag at " + std::to_string(lt);
        if (open.empty() && ++roots > 1)
            return "second root element";
        for (;;) {
            while (doc[k] == ' ' || doc[k] == '\n')
                ++k;
            if (doc.compare(k, 2, "/>") == 0) {
                k += 2;
                break;
            }
            if (doc[k] == '>') {
                open.push_back(name);
                ++k;
                break;
            }
            const std::string attribute = name_at(k);
            if (attribute.empty() || doc[k] != '=' || (doc[k + 1] != '"' && doc[k + 1] != '\''))
                return "bad attribute in <" + name + ">";
            const std::size_t end = doc.find(doc[k + 1], k + 2);
            const std::string value = doc.substr(k + 2, end - k - 2);
            if (end == std::string::npos || value.find('<') != std::string::npos ||
                !entities_ok(value))
                return "bad attribute value in <" + name + ">";
            k = end + 1;
        }
        i = k;
    }
    return open.empty() && roots == 1 ? "" : "unclosed elements";
}

plot_scene curve_fit_scene(const std::string& model_name, const std::string& response) {
    plot_model model({model_name, "y ~ b1*(1-exp(-b2*x))", response, "dose"},
                     plot_kind::data_and_curve);
    std::vector<double> x, y, fitted;
    for (int i = 0; i < 40; ++i) {
        x.push_back(i * 0.25);
        fitted.push_back(5 * (1 - std::exp(-0.4 * x.back())));
        y.push_back(fitted.back() + std::sin(i * 1.7) * 0.2);
    }
    model.add_points(x.data(), y.data(), fitted.data(), x.size());
    model.set_curve([](double v) { return 5 * (1 - std::exp(-0.4 * v)); });
    return model.scene(plot_default_width, plot_default_height);
}

plot_scene linear_fit_scene() {
    plot_model model({"linear", "y ~ x", "y", "x"}, plot_kind::data_and_curve);
    std::vector<double> x, y, fitted;
    for (int i = 0; i < 30; ++i) {
        x.push_back(1000 + i * 40.0);
        fitted.push_back(0.002 * x.back() - 1.5);
        y.push_back(fitted.back() + std::cos(i * 2.3) * 0.05);
    }
    model.add_points(x.data(), y.data(), fitted.data(), x.size());
    model.set_curve([](double v) { return 0.002 * v - 1.5; });
    return model.scene(plot_default_width, plot_default_height);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

TEST(XmlEscape, MarkupCharactersControlsAndLegacyBytes) {
    const std::pair<std::string, std::string> rows[] = {
        {"a<b & \"c\" 'd'>", "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;"},
        {"x\x01y\tz", "xy z"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},                   // UTF-8 stays
        {"caf\xe9 \x80", "caf\xc3\xa9 \xe2\x82\xac"},     // Windows-1252 becomes UTF-8
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xe2\x82\xac"}, // an encoded surrogate is no UTF-8
    };
    for (const auto& [text, escaped] : rows)
        EXPECT_EQ(xml_escape(text), escaped) << text;
}

TEST(SvgDocument, IsWellFormedAndRenders) {
    const std::string out_dir = PLOT_TEST_OUTPUT_DIR;
    const bool have_rsvg = std::system("command -v rsvg-convert >/dev/null 2>&1") == 0;
    const std::pair<const char*, plot_scene> scenes[] = {
        {"plot_linear", linear_fit_scene()},
        {"plot_curve", curve_fit_scene("non-linear", "response")},
        {"plot_hostile", curve_fit_scene("a<b & \"c\" ]]>", "r\xe9sum\xe9\x01")},
    };
    for (const auto& [name, scene] : scenes) {
        SCOPED_TRACE(name);
        const std::string doc = svg_document(scene);
        EXPECT_EQ(xml_problem(doc), "");
        EXPECT_NE(doc.find("viewBox=\"0 0 960 720\""), std::string::npos);
        EXPECT_EQ(doc.find("nan"), std::string::npos);
        const std::string svg = out_dir + "/" + name + ".svg";
        ASSERT_TRUE(write_svg_file(svg, scene).ok);
        if (have_rsvg) {
            const std::string command =
                "rsvg-convert -o '" + out_dir + "/" + name + ".png' '" + svg + "'";
            EXPECT_EQ(std::system(command.c_str()), 0) << command;
        }
    }
    if (!have_rsvg)
        GTEST_SKIP() << "rsvg-convert is not installed: documents checked, not rendered";
}

TEST(WriteSvgFile, ReplacesWholeOrFailsWithAReasonAndLeavesNothing) {
    char dir_template[] = "/tmp/plot_svg_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    const plot_scene scene = linear_fit_scene();

    const std::string target = dir + "/fit.svg";
    std::ofstream(target) << "old";
    const svg_write_result written = write_svg_file(target, scene);
    EXPECT_TRUE(written.ok) << written.error;
    EXPECT_EQ(read_file(target), svg_document(scene));
    EXPECT_FALSE(exists(target + ".partial"));

    const std::string in_directory = dir + "/sub.svg";
    ASSERT_EQ(mkdir(in_directory.c_str(), 0700), 0);
    const std::string failing[] = {dir + "/missing/fit.svg", in_directory, ""};
    for (const std::string& path : failing) {
        const svg_write_result r = write_svg_file(path, scene);
        EXPECT_FALSE(r.ok) << path;
        EXPECT_NE(r.error.find(path.empty() ? "no file name" : path), std::string::npos) << r.error;
        EXPECT_FALSE(exists(path + ".partial")) << path;
    }
    rmdir(in_directory.c_str());
    std::remove(target.c_str());
    EXPECT_EQ(rmdir(dir.c_str()), 0); // nothing was left behind
}

} // namespace
} // namespace models
