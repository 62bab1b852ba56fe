#pragma once

// Process-wide mode flags, 0 or 1, set once from the command line during start-up and only read
// afterwards.
extern int debugMode;       // "-D119": diagnostic lines visible
extern int pasvMode;        // "-PASV": Skype streams send no periodic hello or catalog request
extern int serverOnlyMode;  // "-SERVER": TCP connections are never dialled
extern int clientOnlyMode;  // "-CLIENT": the node never listens for TCP connections
extern int catalogCashMode; // "-CATALOGCASH": catalog cache written only at shutdown
extern int skypeMode;       // 1 unless "-NOSKYPE": the Skype link looks for its client
