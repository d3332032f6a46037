/* The calls whose C prototypes say the size they write ([static N]), each given a buffer of its
 * size, or with -DSHORT one byte short: a C host must get a warning for each short one and none
 * otherwise (sized_buffers.sh counts them). Compiled only. */
#include "sdk_bsp.h"

#ifdef SHORT
#define BYTES(n) ((n) - 1)
#else
#define BYTES(n) (n)
#endif

int sized_buffers(void);

int sized_buffers(void) {
    char list[BYTES(SDK_BSP_RESOURCE_LIST_SIZE)], version[BYTES(SDK_BSP_VERSION_TEXT_SIZE)];
    char hardware[BYTES(SDK_BSP_HARDWARE_INFO_SIZE)], frame[BYTES(SDK_BSP_OUTPUT_COMMAND_SIZE)];
    char static_info[BYTES(SDK_BSP_DIAL_STATIC_INFO_SIZE)], dynamic_info[BYTES(SDK_BSP_DIAL_DYNAMIC_INFO_SIZE)];
    char signals[BYTES(SDK_BSP_GPS_DB_TEXT_SIZE)], address[BYTES(SDK_BSP_NTU_TEXT_SIZE)];
    int n = 0;
    n += ReadFSUResource(list, sizeof list);
    n += ReadSDKVersion(version, sizeof version);
    n += ReadHardwareInformation(hardware, sizeof hardware);
    n += SET_DO_CMD(frame);
    n += DialGetStaticInfo(static_info, sizeof static_info);
    n += DialGetDynamicInfo(dynamic_info, sizeof dynamic_info);
    n += GET_GPS_dB_INFO(signals);
    n += read_ethip("ppp0", address);
    n += read_ethip1("ppp0", address);
    return n;
}
