// Plain, step-by-step versions of the selection parsers and of the
// case-folding comparison: a working list of every accepted number, an
// exchange sort and a pairwise duplicate check. Quadratic, so only for
// short texts and small counts; the differential test and the fuzz target
// check the product against them.
#pragma once

namespace oracle {

int separate_command(char* text, int* result, int count);
int separate_command_spc(char* text, int* result, int count);
int strcompx(const char* text, const char* other);

} // namespace oracle
