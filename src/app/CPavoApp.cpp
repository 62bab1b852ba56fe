#include "app/CPavoApp.h"

int CPavoApp::run(int, char**)
{
    return 0;
}
