// The system's own texts, byte for byte, in one place: every log line the library writes (a printf
// format; its level is the caller's), the fixed numbers the modem and watchdog traces carry, and
// the prints on standard output that carry the names of the system's functions. Comparing the
// library with the system's texts means reading this file. It depends on nothing, so every room
// may use it.
#pragma once

namespace bsp::texts {

// One step of a trace that names a function of the system and a fixed number (its "Line").
struct Step {
    const char* function;
    int line;
};

// ---- start-up, resources, device information and maintenance --------------------------------

inline constexpr char kInitializeSdk[] = "InitializeSDK";
inline constexpr char kUninitializeSdk[] = "UninitializeSDK";
inline constexpr char kResourceCounts[] = "COM=%d;AI=%d;DI=%d,AO=%d,DO=%d";  // also printed
inline constexpr char kResourceList[] = "ReadFSUResource(%s)";
inline constexpr char kResourceAlias[] = "ReadResourceAlias(%s)";
inline constexpr char kVersion[] = "ReadSDKVersion(%s)";
inline constexpr char kHardwareInformation[] = "ReadHardwareInformation(%s)";
inline constexpr char kUpdate[] = "UpdateSDK(%s)";
inline constexpr char kSetRtc[] = "SetRtc %s;set_cmd=%s";
inline constexpr char kSetFtp[] = "fun=%s,usr =%s,password=%s,path=%s";
inline constexpr char kDelFtp[] = "fun=%s,usr =%s";
// A call that refuses caller text: "<call>: <argument> refused, <why>".
inline constexpr char kRefused[] = "%s: %s refused, %s";
inline constexpr char kUpdateSdkName[] = "UpdateSDK";
inline constexpr char kSetRtcName[] = "SetRtc";
inline constexpr char kSetFtpName[] = "SetFtp";
inline constexpr char kDelFtpName[] = "DelFtp";

// ---- input and output values, LEDs, 12 V output, watchdog -----------------------------------

inline constexpr char kAiResourceError[] = "Local/AI/ Resources error";
inline constexpr char kGetAiValue[] = "GetAIValue resourceName:%s type=%d,Value=%f;result=%d";
inline constexpr char kGetAiValueText[] = "GetAIValue resourceName:%s type=%d,Value=%s;result=%d";
inline constexpr char kGetDiValue[] = "GetDIValue resourceName:%s,Value=%d";
inline constexpr char kGetBatValue[] = "GetBatValue resourceName:%s,Value=%f";
inline constexpr char kSetDoValue[] = "SetDOValue resourceName:%s,Value=%d";
inline constexpr char kSetLedValue[] = "SetLEDValue resourceName:%s,Value=%d";
inline constexpr char kRestart12v[] = "SET AO 12V RESTART CH=%d";
inline constexpr char kLedLineInit[] = "LED_GPIO_INIT=%d\r\n";  // printed
inline constexpr char kLedLineReady[] = "LED_GPIO_INIT=%d ok\r\n";  // printed
inline constexpr char kLampTestEnd[] = "sdk_start_log end\r\n";      // printed
// The watchdog calls' trace, each with its fixed number.
inline constexpr char kSoftDogTrace[] = "fun=%s,line =%d";
inline constexpr Step kSoftDogEnable{"SoftDogEnable", 409};
inline constexpr Step kSoftDogFeedInterval{"SoftDogFeedInterval", 424};
inline constexpr Step kSoftDogFeed{"SoftDogFeed", 439};
inline constexpr char kSoftDogReboot[] = "soft dog start,ready reboot=%d";

// ---- serial ports, board link, receive threads, environment link, Uart API ------------------

// The port layer's and the receive threads' prints on standard output: module, function, source line.
inline constexpr char kPortModule[] = "bsp_m_com";
inline constexpr char kThreadModule[] = "com_process";
inline constexpr char kPortError[] = "ERROR: FILE:%s, FUNCTION:%s, LINE:%d, ErrNo:0x%08x.\n";
inline constexpr char kPortNull[] = "ASSERT: FILE: %s, FUNCTION:%s, LINE: %d, x=NULL!\n";
inline constexpr char kThreadStart[] = "STUMP[%03d]: FILE: %s, FUNCTION: %s, LINE: %d.\n";
inline constexpr char kPortCreated[] = "BSP_ComCreate(%d, %s) success !\n";
inline constexpr char kPortNotCreated[] = "BSP_ComCreate(%d, %s) Failed !\n";
inline constexpr char kComCreate[] = "BSP_ComCreate";
inline constexpr char kComDestroy[] = "SDK_BSP_ComDestroy";
inline constexpr char kComGetCapability[] = "SDK_BSP_ComGetCapbility";
inline constexpr char kComSetParams[] = "SDK_BSP_ComSetParams";
inline constexpr char kComWrite[] = "SDK_BSP_ComWrite";
inline constexpr char kComRead[] = "SDK_BSP_ComRead";
inline constexpr char kComFlush[] = "SDK_BSP_ComFlush";
inline constexpr char kSetPortLine[] = "M_BAU_SET_COM";
inline constexpr char kGpsWrite[] = "GPS_COM_WRITE";
inline constexpr char kPassThroughThread[] = "M_COM_READ_THREAD";
inline constexpr char kBoardLinkThread[] = "EXT_COM_READ_THREAD";
inline constexpr char kGpsThread[] = "ENV_COM_READ_THREAD";
inline constexpr char kEnvSendThread[] = "ENV_COM_SEND_THREAD";
inline constexpr char kThreadsStart[] = "FSU_COM_READ_THREAD_START";
inline constexpr char kEnvSendStarted[] = "fun-ENV_COM_SEND_THREAD=%d\r\n";  // printed
inline constexpr char kTopDoSet[] = "EXT_TOP_DO_SET CH%d =%d\r\n";        // printed

inline constexpr char kBoardFrame[] = "CID=%02x nLength=%d\r\n";
inline constexpr char kReceived[] = "M_COM_READ_THREAD com %d recv info len=%d";
inline constexpr char kBoardReceived[] = "EXT_M_COM_READ_THREAD com %d sol_index=%d recv info len=%d/%d/%d";
inline constexpr char kBoardIndexError[] = "COM_index err %d";
inline constexpr char kKeepAlive[2][21] = {"COM DOG RUN EXT1 COM", "COM DOG RUN EXT2 COM"};
inline constexpr char kSetUartParam[] = "SetUartParam:%s iBaudRate:%d,iDataSize:%d,iStopBit:%d,iParity:%d,result:%d";
inline constexpr char kGetUartParam[] = "GetUartParam:%s iBaudRate:%d,iDataSize:%d,iStopBit:%d,iParity:%d,result:%d";
inline constexpr char kWriteUart[] = "WriteUart resourceName:%s TXLENTH:%d,result=%d";

// ---- the AT channel, the modem queries, the LTE supervisor, the Dial API --------------------

// The channel's and the supervisor's trace steps, each with its fixed number.
inline constexpr char kAtStep[] = "LTE_TEHED fun=%s,Line=%d;";
inline constexpr char kAtRead[] = "LTE_TEHED fun=%s,Line=%d;ltefd=%d,l=%d";
inline constexpr char kAtLine[] = "LTE_TEHED fun=%s,Line=%d;line=%s";
inline constexpr Step kReadlinePoll{"readline", 854};
inline constexpr Step kReadlineRead{"readline", 856};
inline constexpr Step kReadlineReadDone{"readline", 858};
inline constexpr Step kExchangeWrite{"write_wait_read", 968};
inline constexpr Step kExchangeWritten{"write_wait_read", 971};
inline constexpr Step kExchangeUpper{"write_wait_read", 974};
inline constexpr Step kExchangeUpperDone{"write_wait_read", 976};
inline constexpr Step kExchangeRead{"write_wait_read", 979};
inline constexpr Step kExchangeReadDone{"write_wait_read", 981};
inline constexpr Step kExchangeLine{"write_wait_read", 986};
inline constexpr Step kExchangeMatched{"write_wait_read", 999};

inline constexpr char kLineOverflow[] = "tERROR: Input line exceeded buffer";
inline constexpr char kPollsOver[] = "ticksleep end,%d,%d";
inline constexpr char kPollBefore[] = "read#######,%d,%d";
inline constexpr char kPollAfter[] = "read!!!!!!,%d,%d";
inline constexpr char kLineRead[] = "AT< %s\n";
inline constexpr char kAnswerLine[] = "AT <,Line=%s;";
inline constexpr char kAnswerLine1[] = "!!!!!!!!!!!!line=%s";
inline constexpr char kAnswerLineCimi[] = "#####################line=%s";
inline constexpr char kCommandSent[] = "AT> %s";
inline constexpr char kCommandWritten[] = "writeline=%s";
inline constexpr char kTimeOut[] = "At time out";
inline constexpr char kTimeOutNoData[] = "no data At time out";
inline constexpr char kModemPosition[] = "GPS data:Latitude=%s,Longitude=%s,high=%s";

inline constexpr char kSupervisorStart[] = "LTE_TEHED START!";
inline constexpr char kSupervisorPass[] = "LTE_TEHED sleepcount=%d,Line=%d";
inline constexpr char kSupervisorDetected[] = "LTE_TEHED sleepcount1=%d,Line=%d;NTU.lteip=%s,NTU.mode_id=%d";
inline constexpr int kSupervisorPassLine = 1754;
inline constexpr int kSupervisorDetectedLine = 1756;
inline constexpr char kQueryStep[] = "LTE_TEHED sleepcount=%d,Line=%d;NTU.atdev=%s";
inline constexpr int kQueryEchoOff = 1709;
inline constexpr int kQueryEchoOffDone = 1711;
inline constexpr int kQuerySignal = 1713;
inline constexpr int kQuerySignalDone = 1715;
inline constexpr int kQueryRegistrationDone = 1717;
inline constexpr int kQueryImsiPrefixed = 1720;
inline constexpr int kQueryImsi = 1725;
inline constexpr int kQueryImei = 1730;  // with kSupervisorPass
inline constexpr char kQueryCycleDone[] = "LTE_TEHED NTU数据打印=%s,%s,%s,%s,%d!";
inline constexpr char kDialRequest[] = "LTE_TEHED NTU.pppdstart=%d";
inline constexpr char kNoService[] = "LTE SYS NO CSQ!";
inline constexpr char kDialRestart[] = "start up killall lte.sh-start lte.sh";
inline constexpr char kDialBanner[] = "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@";
inline constexpr char kHangUpRequest[] = "LTE_TEHED NTU.pppdend=%d";
inline constexpr char kHangUp[] = "killall pppd";
inline constexpr char kSoftRestart[] = "无线模块软重启!!!!!!!!";

inline constexpr char kDialInit[] = "无线拨号初始化DialInit";
inline constexpr char kDialTerminate[] = "结束无线模块拨号DialTerminate";
inline constexpr char kDialDial[] = "执行拨号动作(%s,%s)";
inline constexpr char kOnline[] = "通过ppp0网卡获取相应的ip拨号成功";
inline constexpr char kOffline[] = "通过ppp0网卡获取相应的ip拨号失败";
inline constexpr char kStaticInfo[] = "获取无线模块静态信息DialGetStaticInfo(%s)";
inline constexpr char kDynamicInfo[] = "获取无线模块动态信息DialGetDynamicInfo(%s)";
inline constexpr char kDialSoftReboot[] = "无线模块软重启DialSoftReboot";
inline constexpr char kDialHardReboot[] = "无线模块断电硬重启DialHardReboot";

// ---- GPS ------------------------------------------------------------------------------------

inline constexpr char kGpsFix[] = "GPS:J:%f;W:%f";
inline constexpr char kPcasSet[] = "pcas set %d";
inline constexpr char kWebPcasSet[] = "web pcas set %d";
inline constexpr char kModeStored[] = "gps_pcas set :%s";
inline constexpr char kSdkMode[] = "sdk gps_pcas=%d";
inline constexpr char kModeApplied[] = "gps_pcas=%d,PositionMode=%d";
inline constexpr char kSdkModeOff[] = "gps_pcas sdk=%d";
inline constexpr char kSdkModeSet[] = "gps_pcas sdkk=%d";
inline constexpr char kWebModeSet[] = "gps_pcas web=%d";
inline constexpr char kReceiverWrite[] = "%d=GPS_COM_WRITE(%d,%.*s,%d)\r\n";

}  // namespace bsp::texts
