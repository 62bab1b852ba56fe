#include "app/ModeFlags.h"

int debugMode = 0;
int pasvMode = 0;
int serverOnlyMode = 0;
int clientOnlyMode = 0;
int catalogCashMode = 0;
int skypeMode = 1;
