/* The public header as a C99 host sees it, built with -std=c99 -pedantic -Wall -Werror. */
#include <stddef.h>
#include <stdio.h>

#include "sdk_bsp.h"

int main(void)
{
    char list[SDK_BSP_RESOURCE_LIST_SIZE];
    int state = 1;
    if (READ_resourceName("Local/Led/run") != 501 || READ_resourceName(NULL) != SDK_BSP_RESOURCE_NOT_FOUND)
        return 1;
    if (ReadFSUResource(list, (int)sizeof list) != 0 || GetResourceState("Local/DI/1", &state) != 0 || state != 0)
        return 1;
    if (sizeof(STR_LOG_PAR) != 32 || offsetof(STR_SYSTEM_RESOURCES_NUM_T, AO) != 20)
        return 1;
    puts("");
    return 0;
}
