// The CUDA runtime's own texts for the error codes the stand-ins return, shared by both of them
// so that a report written on either reads as the real runtime would have it.
#pragma once

#include <cuda_runtime_api.h>

const char* runtime_error_text(cudaError_t error);
