// Ids of the texts in texts.def, and their loading.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

enum TextId : uint32_t {
  TextOutOfMemory = 65415,
  TextIoError = 65416,
  TextFileNotFound = 65417,
  TextInvalidFilename = 65418,
  TextTooManyOpenFiles = 65419,
  TextFileAccessDenied = 65420,
  TextReadBeyondEnd = 65421,
  TextDiskFull = 65422,
  TextInvalidNumericInput = 65423,
  TextDivByZero = 65424,
  TextRangeError = 65425,
  TextIntOverflow = 65426,
  TextInvalidOp = 65427,
  TextZeroDivide = 65428,
  TextOverflow = 65429,
  TextUnderflow = 65430,
  TextInvalidPointer = 65431,
  TextAccessViolation = 65433,
  TextStackOverflow = 65434,
  TextControlC = 65435,
  TextPrivilege = 65436,
  TextReportFormat = 65438,
  TextReportCaption = 65439,
  TextRead = 65445,
  TextWrite = 65446,
  TextExternalException = 65452,
};

constexpr std::size_t TextBufferBytes = 1024;

// A text that cannot be loaded is empty.
inline std::string LoadText(TextId id) {
  char buffer[TextBufferBytes];
  std::size_t n = os::Sys().LoadText(id, buffer, sizeof buffer);
  return std::string(buffer, n);
}
