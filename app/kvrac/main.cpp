#include "kvrac/commands.h"

int main(int argc, char** argv) {
    return kvrac_main(argc, argv);
}
