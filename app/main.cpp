#include "app/TindrelApp.h"

int main(int argc, char** argv)
{
    return TindrelApp::main(argc, argv);
}
