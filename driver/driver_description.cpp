#include "driver/driver_description.h"

const DriverDescriptionRecord DriverDescription = {
    "PIC",
    "Softimage PIC File",
    "Dorvanquil Imaging, PIC driver team",
    "Copyright (c) 2026 Dorvanquil Imaging",
    100,
    0x40000207,
    101,
    1,
    {"pic"},
};
