#pragma once
// A failed step of the build as a value: the lines it has for the user, in
// the order they are printed. The steps print only their progress lines;
// the build prints a failure's lines in one place and then undoes what it
// made.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct StepFailure {
  // Each printed as it stands, an ERROR line with its leading new line; none for a failure that has
  // no line of its own, such as an interruption.
  std::vector<std::string> lines;
  // Printed even after an interruption: a failure the interruption did not
  // cause (a damaged package is never reported as built). Otherwise the
  // interruption's own line stands for it.
  bool evenIfInterrupted = false;
  // Beep(440, 250) after the lines.
  bool beep = false;
};

// What a step returns: nothing when it worked.
using StepResult = std::optional<StepFailure>;

// A failure whose one line is format with each "%s" replaced by the next of args.
StepFailure Failure(std::string_view format, std::initializer_list<std::string_view> args = {});
