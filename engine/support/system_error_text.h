// The system's words for an error number, as pictool prints them.
#pragma once

#include <string>

// strerror's text, starting lower case ("no space left on device").
std::string SystemErrorText(int number);
