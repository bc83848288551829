#pragma once
// The messages with which a call refuses its arguments or its object.
//
// Callers match on these texts: programs written against lexmill catch the
// TypeError, OverflowError or RuntimeError and compare the message, so every
// message here is part of the module's interface and stays word for word,
// even where it names no Python type ('PyString', `Vec`) or reads unlike the
// interpreter's own ("takes 1 positional arguments"). Formats are those of
// PyErr_Format.

namespace lexmill::python::messages {

// Binding; the first %s is the call's name, "Lexmill.save()".
inline constexpr const char* kTooManyPositional = "%s takes %zd positional arguments but %zd %s given";
inline constexpr const char* kTooManyPositionalOfRange = "%s takes from %zd to %zd positional arguments but %zd %s given";
inline constexpr const char* kUnexpectedKeyword = "%s got an unexpected keyword argument '%S'";
inline constexpr const char* kMultipleValues = "%s got multiple values for argument '%s'";
inline constexpr const char* kMissingArguments = "%s missing %zd required positional %s: %s";

// Conversion. A TypeError raised while converting an argument is replaced by
// one that names the parameter.
inline constexpr const char* kNamedArgument = "argument '%s': %U";
inline constexpr const char* kCannotConvert = "'%U' object cannot be converted to '%s'";
inline constexpr const char* kCannotConvertUnnamed = "'<failed to extract type name>' object cannot be converted to '%s'";
inline constexpr const char* kTextTarget = "PyString";
inline constexpr const char* kSequenceTarget = "Sequence";
inline constexpr const char* kStrIsNoTextList = "Can't extract `str` to `Vec`";
inline constexpr const char* kIdOutOfRange = "out of range integral type conversion attempted";

// Re-entrant use of one object, from Python code run during a call.
inline constexpr const char* kInExclusiveUse = "Already mutably borrowed";
inline constexpr const char* kInUse = "Already borrowed";

// Calling a class whose objects only lexmill creates.
inline constexpr const char* kNoConstructor = "No constructor defined for %U";
inline constexpr const char* kNoConstructorUnnamed = "No constructor defined for <unknown>";

}  // namespace lexmill::python::messages
