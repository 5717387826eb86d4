#pragma once

struct SourceFault {
  const char* message;
};
