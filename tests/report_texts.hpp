// The report's fixed texts, written out literally, as the tests expect them byte for byte.
#pragma once

#include <string>

namespace texts {

inline const std::string BANNER =
    "CUDA memory bandwidth test (block size = 100 MB)\n"
    "v 1.1\n"
    "Times host, device and page-locked memory copies on every CUDA GPU in this machine\n"
    "\n";
inline const std::string FREQUENCY_3_GHZ = "CPU frequency is... 3 GHz\n\n";
inline const std::string AVERAGE = "Average bandwidth = 4.88281 GB/s\n\n";

inline const std::string HOST_A = "RAM allocating... OK\n";
inline const std::string DEVICE_A = "GPU global RAM allocating... OK\n\n";
inline const std::string TEST_1 = "Copying Host -> Device\n" + AVERAGE;
inline const std::string TEST_2 = "Copying Device -> Host\n" + AVERAGE;
inline const std::string HOST_B = "RAM allocating... OK\n\n";
inline const std::string TEST_3 = "Copying Host -> Host\n" + AVERAGE;
inline const std::string DEVICE_B = "GPU global RAM allocating... OK\n\n";
inline const std::string TEST_4 = "Copying Device -> Device\n" + AVERAGE;
inline const std::string TEST_5 = "Copying Host -> Device (using page-locked)\n" + AVERAGE;
inline const std::string TEST_6 = "Copying Device -> Host (using page-locked)\n" + AVERAGE;

// A device block in which every step succeeds and every copy takes 60000000 ticks at 3 GHz.
inline const std::string FULL_BLOCK =
    HOST_A + DEVICE_A + TEST_1 + TEST_2 + HOST_B + TEST_3 + DEVICE_B + TEST_4 + TEST_5 + TEST_6;

inline std::string device_line(int index, const std::string& name) {
    return "GPU " + std::to_string(index) + ": " + name + "\n\n";
}

inline std::string count_line(int count) {
    return std::to_string(count) + " CUDA device(s) found\n\n";
}

}  // namespace texts
