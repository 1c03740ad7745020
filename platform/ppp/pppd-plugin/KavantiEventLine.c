#include "KavantiEventLine.h"

#include <stdio.h>
#include <string.h>

int kv_event_format(char *buf, size_t size, const char *name, int has_value, int value)
{
    int n;

    if (buf == NULL || size == 0 || name == NULL || name[0] == '\0')
        return -1;
    if (strpbrk(name, " \t\r\n") != NULL)
        return -1;
    if (has_value)
        n = snprintf(buf, size, "%s %d\n", name, value);
    else
        n = snprintf(buf, size, "%s\n", name);
    if (n < 0 || (size_t)n >= size) {
        buf[0] = '\0';
        return -1;
    }
    return n;
}
