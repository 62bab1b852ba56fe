#include "UserConfig.h"

#include <algorithm>
#include <cctype>

bool isValidSkypeId(std::string_view id)
{
    if (id.empty() || id.size() > 31)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    });
}

bool normalisePresence(std::string& word)
{
    static const char* const known[] = {"ONLINE",  "AWAY",      "DND",    "NA",
                                        "SKYPEME", "INVISIBLE", "OFFLINE"};
    std::string upper = word;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* k : known) {
        if (upper == k) {
            word = upper;
            return true;
        }
    }
    return false;
}
