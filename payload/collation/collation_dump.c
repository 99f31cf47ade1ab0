/* Observes how CompareStringW(locale 9, NORM_IGNORECASE) orders single characters and
   writes one line per character, in ascending order: code (hex), whether it has no
   primary weight, whether it is primary-equal to the previous line, whether it is fully
   equal to it. payload/gen_collation.py turns the lines into platform/collation_table.inc.
   The windows build makes it (target collation_dump); its test payload.collation runs it
   under Wine and compares the table made from its lines with the committed one. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static int Compare(const wchar_t* a, int la, const wchar_t* b, int lb) {
    return CompareStringW(9, NORM_IGNORECASE, a, la, b, lb);
}

static int CompareOne(const void* a, const void* b) {
    return Compare((const wchar_t*)a, 1, (const wchar_t*)b, 1) - CSTR_EQUAL;
}

int wmain(int argc, wchar_t** argv) {
    static wchar_t chars[1024];
    int n = 0;
    if (argc < 2) return 2;
    for (int c = 0x0000; c < 0x0080; c++) chars[n++] = (wchar_t)c;
    for (int c = 0x00A0; c < 0x0180; c++) chars[n++] = (wchar_t)c;
    for (int c = 0x0400; c < 0x0460; c++) chars[n++] = (wchar_t)c;
    qsort(chars, n, sizeof chars[0], CompareOne);
    FILE* out = _wfopen(argv[1], L"wb");
    if (!out) return 1;
    for (int i = 0; i < n; i++) {
        wchar_t c = chars[i];
        wchar_t bc[2] = {L'b', c}, cb[2] = {c, L'b'};
        /* No primary weight: "bc" sorts before "ba" and "cb" after "a". */
        int special = Compare(bc, 2, L"ba", 2) == CSTR_LESS_THAN && Compare(cb, 2, L"a", 1) == CSTR_GREATER_THAN;
        int primaryEqual = 0, equal = 0;
        if (i) {
            wchar_t p = chars[i - 1];
            wchar_t pb[2] = {p, L'b'}, ca[2] = {c, L'a'};
            primaryEqual = Compare(pb, 2, ca, 2) == CSTR_GREATER_THAN;
            equal = Compare(&p, 1, &c, 1) == CSTR_EQUAL;
        }
        fprintf(out, "%04x %d %d %d\n", c, special, primaryEqual, equal);
    }
    fclose(out);
    return 0;
}
