/* The shortest honest host: turn the log on, list the box's resources, look one up by name. */
#include <stdio.h>

#include "sdk_bsp.h"

int main(void)
{
    char list[SDK_BSP_RESOURCE_LIST_SIZE];
    char alias[64];
    int state = -1;

    SDK_LOG_PAR_INIT();
    SDK_LOG_WRITE(5, "example host started");

    ReadFSUResource(list, (int)sizeof list);
    printf("\nresources: %s\n", list);

    printf("\"Local/Uart/6\" is resource %d, \"Local/Led/run\" is %d\n", READ_resourceName("Local/Uart/6"),
           READ_resourceName("Local/Led/run"));
    ReadResourceAlias("Local/Uart/6", alias, (int)sizeof alias);
    GetResourceState("Local/Uart/6", &state);
    printf("\nalias %s, state %d\n", alias, state);
    return 0;
}
