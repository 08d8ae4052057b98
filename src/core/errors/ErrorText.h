#pragma once

#include <string>

namespace gridmorph {

// Error numbers the image classes record. Numbers below 10000 are system codes
// and are looked up 10000 higher.
enum EErrorNumber : int {
    ERR_INVALID_ARGUMENT = 15011,
    ERR_INVALID_FILE = 15014,
    ERR_OUT_OF_MEMORY = 15015,
    ERR_NOT_DIB_SECTION = 15400,
    ERR_NO_EXPORT_TYPES = 15401,
    ERR_TYPE_NOT_RECOGNISED = 15402,
    ERR_LOAD_FAILED = 15403,
    ERR_SAVE_FAILED = 15404,
    ERR_NO_WORLD_INFORMATION = 15405,
    ERR_WORLD_FILE_END = 15406,
    ERR_WORLD_FILE_WRITE = 15407,
    ERR_IMAGE_TOO_SMALL = 15408,
    ERR_SAVE_REFUSED = 15409,        // the file type does not take the picture's depth
    ERR_MESSAGE_IS_DETAIL = 99999,   // the detail text is the whole message
};

// The text of an error number from the program's table of error texts.
std::string GetErrorText(long nErrorNumber);

// Looks a number up without the not-found rules; null when the table has no text.
const char* FindErrorText(long nErrorNumber);

}  // namespace gridmorph
