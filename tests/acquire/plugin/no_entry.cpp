// A shared library without a DSM_Entry: loading it as a source manager fails.
extern "C" int KorvaneNotASourceManager() { return 1; }
