#include "cuda_error.hpp"

#include <iostream>

void write_error_line(cudaError_t code) {
    std::cout << "Error occured: " << cudaGetErrorString(code) << " (" << static_cast<int>(code)
              << ")";
}

bool report_failure(cudaError_t code) {
    if (code == cudaSuccess) {
        return false;
    }
    write_error_line(code);
    std::cout << "\n\n";
    return true;
}
