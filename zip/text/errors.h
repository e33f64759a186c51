// The archive component's exception, its message table and the prompts of its default dialogs.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <variant>

#include "text/component.h"

namespace zip {

// One argument of a message: a wide text for "%s", a number for "%d"/"%u".
using TZipFmtArg = std::variant<std::u16string, std::int64_t>;

// Fills %s, %d and %u (with optional "-", width and ".precision") and "%%" from args in order.
// A missing argument leaves the field empty; texts are UTF-8.
std::string ZipFormat(const std::string& fmt, std::initializer_list<TZipFmtArg> args);

class EZipException : public std::exception {
public:
    static EZipException CreateNative(int nativeCode, const TComponent* component);
    static EZipException CreateNativeFmt(int nativeCode, const TComponent* component,
                                         std::initializer_list<TZipFmtArg> args);

    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;  // UTF-8
    int ErrorCode = 0;    // index of the message text
    int NativeError = 0;  // the code the exception was raised with

private:
    EZipException(int nativeCode, const TComponent* component, const std::string& text);
};

// The message text for a native code ("Unknown error" for a code outside the map).
int ZipErrorIndex(int nativeCode);
const char* ZipErrorText(int index);

enum class TZipPrompt {
    OverwriteFile,  // "Overwrite file "%s" with "%s""
    PasswordFor,    // "Password for "%s""
    EnterPassword,
    InsertBlankDisk,
    InsertFirstDisk,
    InsertLastDisk,
    InsertDisk,
    DiskFull,
    ProcessingError,
    FileNotOnDisk,
};
const char* ZipPromptText(TZipPrompt prompt);

}  // namespace zip
