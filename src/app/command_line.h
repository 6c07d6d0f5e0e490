// Splitting the command-line tail into the three values of a request.
// Platform-free, so it is unit-tested and fuzzed natively.
#ifndef HALVANE_COMMAND_LINE_H
#define HALVANE_COMMAND_LINE_H

// Each field is null (absent) or points into the tail, which lives as long as the process.
struct LaunchValues {
    wchar_t* languageCode;  // lower-cased (A-Z only)
    wchar_t* site;          // lower-cased (A-Z only)
    wchar_t* windowTitle;   // exactly as the browser passed it
};

// Parses the tail in place (terminators over separators and trailing quotes, the
// code and the site lower-cased) and fills *request with what it reaches.
// Returns 1 when all three values were found, 0 otherwise.
int ParseCommandLine(wchar_t* tail, LaunchValues* request);

#endif
