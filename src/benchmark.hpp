// The report from banner to exit.
//
// Everything goes to standard output; nothing here flushes it. The final read from standard
// input flushes it anyway, because std::cin is tied to std::cout, so the whole report has
// reached its file or pipe before the program starts to wait.
#pragma once

// Writes the report, waits until one character can be read from standard input and returns the
// exit status, which is 0 on every path.
int run_benchmark();
