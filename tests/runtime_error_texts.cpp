#include "runtime_error_texts.hpp"

const char* runtime_error_text(cudaError_t error) {
    switch (error) {
        case cudaSuccess:
            return "no error";
        case cudaErrorInvalidValue:
            return "invalid argument";
        case cudaErrorMemoryAllocation:
            return "out of memory";
        case cudaErrorInsufficientDriver:
            return "CUDA driver version is insufficient for CUDA runtime version";
        case cudaErrorDevicesUnavailable:
            return "CUDA-capable device(s) is/are busy or unavailable";
        case cudaErrorNoDevice:
            return "no CUDA-capable device is detected";
        case cudaErrorInvalidDevice:
            return "invalid device ordinal";
        case cudaErrorIllegalAddress:
            return "an illegal memory access was encountered";
        case cudaErrorLaunchFailure:
            return "unspecified launch failure";
        default:
            return "unrecognized error code";
    }
}
