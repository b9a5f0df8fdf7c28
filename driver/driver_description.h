// The driver's identity: one static, read-only record that the identity
// operations answer from.
#pragma once

struct DriverDescriptionRecord {
    char shortDescription[256];
    char longDescription[256];
    char author[256];
    char copyright[256];
    unsigned int version;
    int capabilities;
    int aboutDialogId;
    int extensionCount;
    const char* extensions[1];
};

extern const DriverDescriptionRecord DriverDescription;
