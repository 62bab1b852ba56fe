#pragma once

// How the node runs, as its command line chose: built once at start-up and handed to the parts
// that behave differently.
struct NodeOptions
{
    bool debug = false;                  // "-D119": diagnostic lines visible
    bool passive = false;                // "-PASV": Skype streams send no periodic hello or
                                         // catalog request
    bool serverOnly = false;             // "-SERVER": TCP connections are never dialled
    bool clientOnly = false;             // "-CLIENT": the node never listens for TCP connections
    bool catalogCacheAtShutdown = false; // "-CATALOGCASH": catalog cache written only at shutdown
    bool messagingClient = true;         // false with "-NOSKYPE": the Skype link does not look
                                         // for its client
    bool control = false;                // the program's own node: a control socket for the
                                         // command line (tests and benchmarks build without)

    bool operator==(const NodeOptions&) const = default;
};
