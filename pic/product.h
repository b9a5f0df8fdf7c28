// The product's names, vendor and version: the one home of the texts that
// the code answers with, that the version record and the About box carry and
// that the tests expect. The resource scripts include this header through
// windres' preprocessor, so it holds only macros of numbers and string
// literals; adjacent literals join, in C++ and in resource scripts alike.
#pragma once

#define PIC_BRAND "Dorvanquil"
#define PIC_VENDOR PIC_BRAND " Imaging"
#define PIC_VENDOR_SITE "dorvanquil.example"
#define PIC_YEAR "2026"
#define PIC_COPYRIGHT "Copyright (c) " PIC_YEAR " " PIC_VENDOR
#define PIC_TRADEMARK PIC_BRAND " is a trademark of " PIC_VENDOR

#define PIC_PRODUCT_NAME PIC_BRAND " PIC Driver"
#define PIC_DESCRIPTION "Softimage Picture File I/O Driver"
#define PIC_FILE_DESCRIPTION "Softimage PIC image file driver"
// What the module's LibDescription answers.
#define PIC_MODULE_DESCRIPTION PIC_DESCRIPTION " (c) " PIC_YEAR " " PIC_VENDOR " - " PIC_VENDOR_SITE
// The class's display name and the driver's long description.
#define PIC_FORMAT_NAME "Softimage PIC File"
#define PIC_CATEGORY PIC_BRAND " I/O Driver"
#define PIC_AUTHOR PIC_VENDOR ", PIC driver team"

// 1.0.0.1: the version record's four numbers and their text "1, 0, 0, 1".
#define PIC_VERSION_MAJOR 1
#define PIC_VERSION_MINOR 0
#define PIC_VERSION_PATCH 0
#define PIC_VERSION_BUILD 1
#define PIC_VERSION_NUMBERS                                                                        \
    PIC_VERSION_MAJOR, PIC_VERSION_MINOR, PIC_VERSION_PATCH, PIC_VERSION_BUILD
#define PIC_QUOTE(...) #__VA_ARGS__
#define PIC_TEXT_OF(...) PIC_QUOTE(__VA_ARGS__)
#define PIC_VERSION_TEXT PIC_TEXT_OF(PIC_VERSION_NUMBERS)

// The About box's lines under the banner.
#define PIC_ABOUT_CAPTION "About " PIC_DESCRIPTION
#define PIC_ABOUT_VERSION                                                                          \
    "Version " PIC_TEXT_OF(PIC_VERSION_MAJOR) "." PIC_TEXT_OF(PIC_VERSION_MINOR) " Beta"
#define PIC_ABOUT_AUTHOR "Written by the " PIC_BRAND " PIC driver team"
#define PIC_ABOUT_SITE "www." PIC_VENDOR_SITE
