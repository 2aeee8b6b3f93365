#include "platform/ComPortNames.h"

#include <cstring>

int ComPortNumber(const char* comName)
{
    if (comName == nullptr || std::strncmp(comName, "COM", 3) != 0)
        return 0;
    const char* digits = comName + 3;
    if (digits[0] < '1' || digits[0] > '9')
        return 0;
    int n = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || p - digits >= 2)
            return 0;
        n = n * 10 + (*p - '0');
    }
    return n >= FIRST_COM_PORT && n <= LAST_COM_PORT ? n : 0;
}
