#include "app/RunTarnwick.h"

int main(int argc, char** argv) {
    return tarn::runTarnwick(argc, argv);
}
