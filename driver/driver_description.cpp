#include "driver/driver_description.h"

#include "pic/product.h"

const DriverDescriptionRecord DriverDescription = {
    "PIC",
    PIC_FORMAT_NAME,
    PIC_AUTHOR,
    PIC_COPYRIGHT,
    // The host's version number: the major version times 100 plus the minor.
    PIC_VERSION_MAJOR * 100 + PIC_VERSION_MINOR,
    0x40000207,
    101,
    1,
    {"pic"},
};
