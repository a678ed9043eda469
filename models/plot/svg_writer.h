// A plot scene as an SVG document, and written to a file safely: the file
// appears whole or not at all.
#pragma once

#include "plot_model.h"

#include <string>

namespace models {

// The whole document: XML declaration, an <svg> element sized width x height
// with a matching viewBox (so that it scales to any size), the primitives in
// drawing order.
std::string svg_document(const plot_scene& scene);

// Text for XML character data and attribute values: &, <, >, " and ' as
// entities, control characters XML cannot hold left out, bytes that are no
// UTF-8 read as Windows-1252.
std::string xml_escape(const std::string& text);

struct svg_write_result {
    bool ok = false;
    std::string error; // why it failed, naming the file
};

// Writes the document to a temporary file beside path, then renames it over
// path. On failure the temporary file is removed and path is left as it was.
svg_write_result write_svg_file(const std::string& path, const plot_scene& scene);

} // namespace models
