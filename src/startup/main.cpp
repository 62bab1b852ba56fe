#include "startup/CPavoApp.h"

int main(int argc, char** argv)
{
    return CPavoApp::run(argc, argv);
}
