#!/usr/bin/env python3
"""Writes nist_certified.h, the certified values of the NIST StRD datasets in
this folder as a C++ table, from certified.json. Run it again when the
datasets change; the tests include the written header."""
import json
import os

here = os.path.dirname(os.path.abspath(__file__))
data = json.load(open(os.path.join(here, "certified.json")))


def numbers(values):
    return "{" + ", ".join(repr(float(v)) for v in values) + "}"


def text(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


rows = []
for name in sorted(data):
    d = data[name]
    linear = d["kind"] == "lls"
    rows.append(
        "    {%s, %s, %s, %s, %s, %s, %s, %s, %s, %r, %r, %d, %d, %d, %d, %d, %s},"
        % (
            text(name),
            "true" if linear else "false",
            text(d["model"]),
            "{" + ", ".join(text(p) for p in d["parameters"]) + "}",
            numbers(d["certified_values"]),
            numbers(d["certified_std_dev"]),
            numbers(d.get("start1", [])),
            numbers(d.get("start2", [])),
            "true" if d.get("intercept", True) else "false",
            float(d["residual_sum_of_squares"]),
            float(d["residual_std_dev"]),
            int(d["degrees_of_freedom"]),
            int(d["observations"]),
            int(d["data_lines"][0]),
            int(d["data_lines"][1]),
            len(d["columns"]),
            repr(float(d["r_squared"])) if "r_squared" in d else "0.0",
        )
    )

with open(os.path.join(here, "nist_certified.h"), "w") as out:
    out.write("""// NIST StRD certified values, written by make_certified_table.py from
// certified.json; do not edit by hand. The data files (.dat) lie beside it.
#pragma once

#include <vector>

struct nist_dataset {
    const char* name;
    bool linear;                     // a linear dataset (else non-linear)
    const char* model;               // the model as the file states it
    std::vector<const char*> parameters;
    std::vector<double> certified;   // certified estimates
    std::vector<double> certified_sd; // their certified standard deviations
    std::vector<double> start1;      // non-linear: far start
    std::vector<double> start2;      // non-linear: near start
    bool intercept;                  // linear: the model has an intercept
    double rss;
    double residual_sd;
    int df;
    int observations;
    int first_line;                  // 1-based lines of the data in the file
    int last_line;
    int columns;                     // y first, then the predictors
    double r_squared;                // linear only
};

inline const std::vector<nist_dataset>& nist_datasets() {
    static const std::vector<nist_dataset> table = {
""")
    out.write("\n".join(rows))
    out.write("""
    };
    return table;
}
""")
