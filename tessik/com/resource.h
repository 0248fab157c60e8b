// Resource identifiers of Tessik.dll (read by the resource compiler too).
#pragma once

#define IDR_TYPELIB 1
#define IDS_PROJNAME 100
#define IDR_REGISTRATION_SCRIPT 101
#define IDS_NOT_RUNNING 10000
