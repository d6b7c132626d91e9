// The compiler's message catalog: every text it prints, in one place.
// This file is written in UTF-8 and compiled with -fexec-charset=CP932, so
// each literal below becomes the Shift-JIS bytes the compiler prints.
#include "catalog.h"

namespace catalog {
const char* const kAbort = "コンパイルを中断します";
const char* const kOutOfRange = "配列の範囲外アクセスがありました";
const char* const kOtherException = "その他の例外がありました";
const char* const kSummaryErrors = " - エラー ";
const char* const kSummaryWarnings = "、警告 ";
const char* const kErrorPrefix = "エラー(";
const char* const kWarningPrefix = "警告(";
const char* const kWarningNoLine = "警告: ";
}  // namespace catalog

namespace error {

static std::string quoted(const char* before, const std::string& name, const char* after) {
    return before + name + after;
}

// Scanner
std::string IllegalCharacter::text() const { return "文字'" + std::string(1, byte) + "'を無視します"; }
std::string UnterminatedComment::text() const { return "コメント終端の前にEOFが検出されました"; }
std::string LongIdentifier::text() const { return "識別子が" + std::to_string(limit) + "字以上です(Cソース不正です)"; }
std::string LargeInteger::text() const { return std::to_string(limit) + "より大きい整数値が使われています(バイナリコードが不正です)"; }

// Parser
std::string ParseError::text() const { return construct + "を無視します"; }
std::string BadTree::text() const { return "構文木が正しく生成されていません"; }

// Symbol table
std::string CFunctionName::text() const { return quoted("関数'", name, "'はC言語で宣言されています(Cソースが不正です)"); }
std::string UnusedVariable::text() const { return quoted("変数'", name, "'は使用されていません"); }

// Program structure, declarations and functions
std::string FunctionNotDefined::text() const { return quoted("関数'", name, "'は定義されていません"); }
std::string StartHasArguments::text() const { return "start関数に引数があってはいけません"; }
std::string VoidVariable::text() const { return "void型の変数を宣言しようとしました"; }
std::string ZeroSizeArray::text() const { return "サイズが0の配列を宣言しようとしました"; }
std::string var_AlreadyDec::text() const { return quoted("変数'", name, "'はすでに宣言されています"); }
std::string TypeMismatch::text() const { return from + "型を" + to + "型に代入することはできません"; }
std::string ConstArray::text() const { return "配列がconst宣言されています"; }
std::string ConstNotInitialised::text() const { return "定数が初期化されていません"; }
std::string FunctionAlreadyDefined::text() const { return quoted("関数'", name, "'はすでに定義されています"); }
std::string MissingReturnPath::text() const { return quoted("関数'", name, "'に値を返さないコントロールパスがあります"); }

// Expressions, variables and assignment
std::string OperandNotOfType::text() const { return type + "型でない項で" + op + "演算してはいけません"; }
std::string DifferentTypes::text() const { return "異なる型の項で" + op + "演算してはいけません"; }
std::string VariableNotDeclared::text() const { return quoted("変数'", name, "'は宣言されていません"); }
std::string SubscriptRequired::text() const { return "配列には添字が必要です"; }
std::string SubscriptOnScalar::text() const { return "配列でない変数に添字が使われました"; }
std::string SubscriptNotInt::text() const { return "添字がint型ではありません"; }
std::string AssignToConst::text() const { return "const宣言された変数に代入してはいけません"; }

// Control flow, calls and return
std::string ConditionNotBool::text() const { return "条件式がbool型ではありません"; }
std::string MisplacedJump::text() const { return quoted("不正な'", word, "'です"); }
std::string ArgumentMismatch::text() const { return "引数の数や型が定義と一致しません"; }
std::string MissingReturnValue::text() const { return "返り値がありません"; }
std::string ReturnTypeMismatch::text() const { return "返り値の型が違います"; }

// Input and output
std::string InputNotInt::text() const { return "int型以外の変数に代入することはできません"; }

}  // namespace error

namespace fatal_error {
std::string OverSomeErrors::text() const { return "エラーの数が" + std::to_string(limit) + "を超えました"; }
std::string CantOpenOutFile::text() const { return "出力ファイル(" + file + ")が開けません"; }
std::string CantOpenInFile::text() const { return "入力ファイルが開けません"; }
}  // namespace fatal_error
