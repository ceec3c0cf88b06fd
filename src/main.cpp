#include "benchmark.hpp"
#include "standard_streams.hpp"

int main() {
    prepare_standard_streams();
    return finish_standard_output(run_benchmark());
}
