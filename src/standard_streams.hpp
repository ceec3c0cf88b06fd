// How the report reaches its reader: the set-up of the standard streams at start-up and the
// check, at the end, that every byte of the report was written.
//
// This is the one module that knows the platform's streams. It guarantees that a terminal shows
// every character the moment it is written, that files and pipes keep the default block
// buffering, and that a report which could not be written in full turns the exit status into 1
// with one line on standard error. It does not retry a failed write, and it cannot tell a reader
// that went away through a pipe: that still ends the process with SIGPIPE where there is one.
#pragma once

// Call first thing in main, before the CUDA runtime opens anything.
void prepare_standard_streams();

// Flushes standard output. Returns the given status when the whole report was written; otherwise
// writes "cuda-bandwidth: cannot write the report: <system text>" to standard error and
// returns 1.
int finish_standard_output(int status);
