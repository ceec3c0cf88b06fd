// The report's one way of saying that a CUDA call failed: the error line.
#pragma once

#include <cuda_runtime_api.h>

// Writes "Error occured: <runtime text> (<code>)" with no line end.
void write_error_line(cudaError_t code);

// Returns false for success; otherwise writes the error line and an empty line and returns true.
bool report_failure(cudaError_t code);
