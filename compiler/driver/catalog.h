// Every diagnostic the compiler can report, one class per message, grouped
// by the stage that reports it. The texts themselves are in catalog.cpp,
// the only file that holds message literals.
#pragma once

#include <string>

#include "diagnostics.h"

// Declares an error or warning class whose text needs no values.
#define VEXL_DIAG0(Base, Name)                                  \
    class Name : public Base {                                  \
    public:                                                     \
        using Base::Base;                                       \
    protected:                                                  \
        std::string text() const override;                      \
    };

// Declares a class that carries one value for its text.
#define VEXL_DIAG1(Base, Name, Type, field)                                        \
    class Name : public Base {                                                     \
    public:                                                                        \
        Name(int line, std::string node, Type field)                               \
            : Base(line, std::move(node)), field(std::move(field)) {}              \
        Type field;                                                                \
    protected:                                                                     \
        std::string text() const override;                                         \
    };

// Declares a class that carries two values for its text.
#define VEXL_DIAG2(Base, Name, Type1, field1, Type2, field2)                       \
    class Name : public Base {                                                     \
    public:                                                                        \
        Name(int line, std::string node, Type1 field1, Type2 field2)               \
            : Base(line, std::move(node)), field1(std::move(field1)),              \
              field2(std::move(field2)) {}                                         \
        Type1 field1;                                                              \
        Type2 field2;                                                              \
    protected:                                                                     \
        std::string text() const override;                                         \
    };

namespace error {

// Scanner (node name "flex")
VEXL_DIAG1(Error, IllegalCharacter, char, byte)
VEXL_DIAG0(Error, UnterminatedComment)
VEXL_DIAG1(Warning, LongIdentifier, int, limit)
VEXL_DIAG1(Warning, LargeInteger, int, limit)

// Parser error productions (node name "bison")
VEXL_DIAG1(Error, ParseError, std::string, construct)

// Any construct whose required child was lost to error recovery
VEXL_DIAG0(Error, BadTree)

// Symbol table (node name "MapManager")
VEXL_DIAG1(Warning, CFunctionName, std::string, name)
VEXL_DIAG1(Warning, UnusedVariable, std::string, name)

// Program structure, declarations and functions
VEXL_DIAG1(Error, FunctionNotDefined, std::string, name)
VEXL_DIAG0(Error, StartHasArguments)
VEXL_DIAG0(Error, VoidVariable)
VEXL_DIAG0(Error, ZeroSizeArray)
VEXL_DIAG1(Error, var_AlreadyDec, std::string, name)
VEXL_DIAG2(Error, TypeMismatch, std::string, from, std::string, to)
VEXL_DIAG0(Warning, ConstArray)
VEXL_DIAG0(Warning, ConstNotInitialised)
VEXL_DIAG1(Error, FunctionAlreadyDefined, std::string, name)
VEXL_DIAG1(Error, MissingReturnPath, std::string, name)

// Expressions, variables and assignment
VEXL_DIAG2(Error, OperandNotOfType, std::string, type, std::string, op)
VEXL_DIAG1(Error, DifferentTypes, std::string, op)
VEXL_DIAG1(Error, VariableNotDeclared, std::string, name)
VEXL_DIAG0(Error, SubscriptRequired)
VEXL_DIAG0(Error, SubscriptOnScalar)
VEXL_DIAG0(Error, SubscriptNotInt)
VEXL_DIAG0(Error, AssignToConst)

// Control flow, calls and return
VEXL_DIAG0(Error, ConditionNotBool)
VEXL_DIAG1(Error, MisplacedJump, std::string, word)
VEXL_DIAG0(Error, ArgumentMismatch)
VEXL_DIAG0(Error, MissingReturnValue)
VEXL_DIAG0(Error, ReturnTypeMismatch)

// Input and output
VEXL_DIAG0(Error, InputNotInt)

}  // namespace error

namespace fatal_error {

class OverSomeErrors : public FatalError {
public:
    explicit OverSomeErrors(int limit) : limit(limit) {}
    int limit;
protected:
    std::string text() const override;
};

class CantOpenOutFile : public FatalError {
public:
    explicit CantOpenOutFile(std::string file) : file(std::move(file)) {}
    std::string file;
protected:
    std::string text() const override;
};

class CantOpenInFile : public FatalError {
protected:
    std::string text() const override;
};

}  // namespace fatal_error

// Fixed texts of the driver.
namespace catalog {
extern const char* const kAbort;          // last line of every fatal message
extern const char* const kOutOfRange;     // handler of standard range errors
extern const char* const kOtherException; // handler of anything else
extern const char* const kSummaryErrors;  // " - errors " in the summary line
extern const char* const kSummaryWarnings;
extern const char* const kErrorPrefix;    // "error(" ...
extern const char* const kWarningPrefix;  // "warning(" ...
extern const char* const kWarningNoLine;  // "warning: "
}  // namespace catalog
