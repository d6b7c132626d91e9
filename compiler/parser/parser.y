/* Grammar of the language. Each action builds at most one node; the error
   productions list one diagnostic and leave a null child. Recovery,
   default reductions and the stack limits (200 entries growing to 10,000)
   are the parser generator's own LALR(1) behaviour. */
%code requires {
#include "diagnostics.h"
/* A span is copied as bytes when the stacks grow. */
#define YYLTYPE_IS_TRIVIAL 1
#define YYLOCATION_PRINT(File, Loc) ((void)0)
}
%define api.location.type {SourceSpan}
%locations

%{
#include <cstdint>
#include <string>

#include "diagnostics.h"
#include "frontend.h"
#include "node.h"

/* Stacks live in the parse function's frame, so nothing is left behind
   when a fatal error unwinds through the parser. */
#define YYSTACK_USE_ALLOCA 1
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

#define yylex next_token

/* A construct's location is its first token's; an empty one has none. */
#define YYLLOC_DEFAULT(Current, Rhs, N) ((Current) = (N) ? YYRHSLOC(Rhs, 1) : SourceSpan{})

program* parse_root = nullptr;
SourceSpan first_syntax_error;
static SourceSpan syntax_error;  // the latest one
extern SourceSpan yylloc;

/* The parser's own error report is silent: the error productions list
   what the user sees, at the token where the parser noticed the error. */
static void yyerror(const char*) {
    syntax_error = yylloc;
    if (!first_syntax_error.known()) first_syntax_error = yylloc;
}

static void ignored(const char* construct) {
    diagnostics.error_at<error::ParseError>(syntax_error, line_number, "bison", construct);
}

template <class T, class... Args> static T* node(Args&&... args) {
    return make_node<T>(std::forward<Args>(args)...);
}
/* A node whose diagnostics name the token at `where`. */
template <class T, class... Args> static T* node_at(const SourceSpan& where, Args&&... args) {
    T* n = make_node<T>(std::forward<Args>(args)...);
    n->span = where;
    return n;
}
%}

%union {
    int num;
    ValueType type;
    const std::string* str;
    ParseNode* node;
    expression* expr;
    func_call* call;
    assignment* assign;
    actual_parameter* args;
    statement* stmt;
    statement_s* stmts;
    declarations* decls;
    declare_variables* dvars;
    declare_valiable* dvar;
    define_functions* funcs;
    define_function* func;
    declare_parameters* params;
    declare_parameter* param;
}

%token <num> NUMBER 257
%token <num> BOOLEAN 258
%token <str> IDENT 259
%token <str> STRING 260
%token <type> TYPE 261
%token UNUSED_262 262 UNUSED_263 263 UNUSED_264 264
%token CONST 265 FUNCTION 266 RETURN 267 IF 268 ELSE 269 WHILE 270 DO 271 FOR 272
%token BREAK 273 CONTINUE 274 INPUT 275 OUTPUT 276 ASSIGN 277
%token AND 278 OR 279 XOR 280 NE 281 LE 282 GE 283 DIV 284 MOD 285 UMINUS 286 NOT 287

%left AND OR XOR
%left '=' NE
%left '<' LE '>' GE
%left '+' '-'
%left '*' DIV MOD
%precedence UMINUS NOT

%type <node> program
%type <decls> declarations
%type <funcs> define_functions
%type <dvars> declare_variables
%type <dvar> declare_valiable
%type <func> define_function
%type <params> declare_parameters
%type <param> declare_parameter
%type <stmt> statement
%type <stmts> statement_s
%type <node> if_statement return_statement while_statement do_while_statement for_statement
%type <node> break_statement continue_statement input_statement output_statement
%type <node> assignment_statement func_call_statement
%type <assign> assignment opt_assignment
%type <expr> opt_expression expression
%type <call> func_call
%type <args> actual_parameter

%expect 11
%start program

%%
program
    : declarations define_functions                { $$ = parse_root = node<program>($1, $2); }
    ;
declarations
    : declare_variables declarations               { $$ = node<declarations>($1, $2); }
    | %empty                                       { $$ = nullptr; }
    ;
define_functions
    : define_function                              { $$ = node<define_functions>($1, nullptr); }
    | define_functions define_functions            { $$ = node<define_functions>($1, $2); }
    ;
declare_variables
    : TYPE declare_valiable ';'                    { $$ = node_at<declare_variables>(@1, $1, $2, false); }
    | CONST TYPE declare_valiable ';'              { $$ = node_at<declare_variables>(@2, $2, $3, true); }
    | error ';'                                    { ignored("declare_variables"); $$ = nullptr; }
    ;
declare_valiable
    : IDENT                                        { $$ = node_at<declare_valiable>(@1, nullptr, nullptr, nullptr, *$1, false, 1); }
    | IDENT ASSIGN expression                      { $$ = node_at<declare_valiable>(@1, nullptr, nullptr, $3, *$1, false, 1); }
    | IDENT '[' NUMBER ']'                         { $$ = node_at<declare_valiable>(@1, nullptr, nullptr, nullptr, *$1, true, static_cast<std::uint16_t>($3)); }
    | declare_valiable ',' declare_valiable        { $$ = node<declare_valiable>($1, $3, nullptr, "", false, 0); }
    ;
define_function
    : FUNCTION TYPE IDENT '(' declare_parameters ')' '{' declarations statement_s '}'
                                                   { $$ = node_at<define_function>(@3, $2, $5, $8, $9, *$3);
                                                     $$->extent = {@1.offset, @10.offset + @10.length - @1.offset, @1.line, @1.column}; }
    | error '{' declarations statement_s '}'       { ignored("define_function"); $$ = nullptr; }
    ;
declare_parameters
    : declare_parameter                            { $$ = node<declare_parameters>($1); }
    | %empty                                       { $$ = nullptr; }
    ;
declare_parameter
    : TYPE IDENT                                   { $$ = node_at<declare_parameter>(@2, nullptr, nullptr, $1, *$2, false); }
    | CONST TYPE IDENT                             { $$ = node_at<declare_parameter>(@3, nullptr, nullptr, $2, *$3, true); }
    | declare_parameter ',' declare_parameter      { $$ = node<declare_parameter>($1, $3, kVoid, "", false); }
    ;
statement
    : '{' statement_s '}'                          { $$ = node_at<statement>(@1, $2); }
    | if_statement                                   { $$ = node_at<statement>(@1, $1); }
    | return_statement                               { $$ = node_at<statement>(@1, $1); }
    | while_statement                                { $$ = node_at<statement>(@1, $1); }
    | do_while_statement                             { $$ = node_at<statement>(@1, $1); }
    | for_statement                                  { $$ = node_at<statement>(@1, $1); }
    | break_statement                                { $$ = node_at<statement>(@1, $1); }
    | continue_statement                             { $$ = node_at<statement>(@1, $1); }
    | input_statement                                { $$ = node_at<statement>(@1, $1); }
    | output_statement                               { $$ = node_at<statement>(@1, $1); }
    | assignment_statement                           { $$ = node_at<statement>(@1, $1); }
    | func_call_statement                            { $$ = node_at<statement>(@1, $1); }
    | error ';'                                    { ignored("statement"); $$ = nullptr; }
    ;
statement_s
    : statement statement_s                        { $$ = node<statement_s>($1, $2); }
    | %empty                                       { $$ = node<statement_s>(nullptr, nullptr); }
    ;
if_statement
    : IF '(' expression ')' statement ELSE statement { $$ = node_at<if_statement>(@1, $3, $5, $7); }
    | IF '(' expression ')' statement              { $$ = node_at<if_statement>(@1, $3, $5, nullptr); }
    ;
return_statement
    : RETURN ';'                                   { $$ = node_at<return_statement>(@1, nullptr); }
    | RETURN expression ';'                        { $$ = node_at<return_statement>(@1, $2); }
    ;
while_statement
    : WHILE '(' expression ')' statement           { $$ = node_at<while_statement>(@1, $3, $5); }
    ;
do_while_statement
    : DO statement WHILE '(' expression ')' ';'    { $$ = node_at<do_while_statement>(@1, $2, $5); }
    ;
for_statement
    : FOR '(' opt_assignment ';' opt_expression ';' opt_assignment ')' statement
                                                   { $$ = node_at<for_statement>(@1, $3, $7, $5, $9); }
    ;
opt_assignment
    : assignment                                   { $$ = $1; }
    | %empty                                       { $$ = nullptr; }
    ;
opt_expression
    : expression                                   { $$ = $1; }
    | %empty                                       { $$ = nullptr; }
    ;
break_statement
    : BREAK ';'                                    { $$ = node_at<break_statement>(@1); }
    ;
continue_statement
    : CONTINUE ';'                                 { $$ = node_at<continue_statement>(@1); }
    ;
input_statement
    : INPUT IDENT ';'                              { $$ = node_at<input_statement>(@2, nullptr, *$2); }
    | INPUT IDENT '[' expression ']' ';'           { $$ = node_at<input_statement>(@2, $4, *$2); }
    ;
output_statement
    : OUTPUT expression ';'                        { $$ = node_at<output_statement>(@1, $2, ""); }
    | OUTPUT STRING ';'                            { $$ = node_at<output_statement>(@2, nullptr, *$2); }
    ;
assignment_statement
    : assignment ';'                               { $$ = node<assignment_statement>($1); }
    ;
assignment
    : IDENT ASSIGN expression                      { $$ = node_at<assignment>(@1, nullptr, $3, *$1); }
    | IDENT '[' expression ']' ASSIGN expression   { $$ = node_at<assignment>(@1, $3, $6, *$1); }
    ;
func_call_statement
    : func_call ';'                                { $$ = node<func_call_statement>($1); }
    ;
func_call
    : IDENT '(' actual_parameter ')'               { $$ = node_at<func_call>(@1, *$1, $3); }
    | IDENT '(' ')'                                { $$ = node_at<func_call>(@1, *$1, nullptr); }
    ;
actual_parameter
    : expression                                   { $$ = node<actual_parameter>($1, nullptr, nullptr); }
    | actual_parameter ',' actual_parameter        { $$ = node<actual_parameter>(nullptr, $1, $3); }
    ;
expression
    : expression OR expression                     { $$ = node_at<expression>(@2, $1, $3, kOr); }
    | expression AND expression                    { $$ = node_at<expression>(@2, $1, $3, kAnd); }
    | expression XOR expression                    { $$ = node_at<expression>(@2, $1, $3, kXor); }
    | expression '=' expression                    { $$ = node_at<expression>(@2, $1, $3, kEq); }
    | expression NE expression                     { $$ = node_at<expression>(@2, $1, $3, kNe); }
    | expression '<' expression                    { $$ = node_at<expression>(@2, $1, $3, kLt); }
    | expression LE expression                     { $$ = node_at<expression>(@2, $1, $3, kLe); }
    | expression '>' expression                    { $$ = node_at<expression>(@2, $1, $3, kGt); }
    | expression GE expression                     { $$ = node_at<expression>(@2, $1, $3, kGe); }
    | expression '+' expression                    { $$ = node_at<expression>(@2, $1, $3, kAdd); }
    | expression '-' expression                    { $$ = node_at<expression>(@2, $1, $3, kSub); }
    | expression '*' expression                    { $$ = node_at<expression>(@2, $1, $3, kMul); }
    | expression DIV expression                    { $$ = node_at<expression>(@2, $1, $3, kDiv); }
    | expression MOD expression                    { $$ = node_at<expression>(@2, $1, $3, kMod); }
    | '+' expression %prec UMINUS                  { $$ = node_at<expression>(@1, $2, nullptr, kPlus); }
    | '-' expression %prec UMINUS                  { $$ = node_at<expression>(@1, $2, nullptr, kMinus); }
    | '(' expression ')'                           { $$ = node_at<expression>(@1, $2, nullptr, kParen); }
    | NOT expression                               { $$ = node_at<expression>(@1, $2, nullptr, kNot); }
    | NUMBER                                       { $$ = node_at<literal>(@1, static_cast<std::uint16_t>($1), kInt); }
    | BOOLEAN                                      { $$ = node_at<literal>(@1, static_cast<std::uint16_t>($1), kBool); }
    | IDENT                                        { $$ = node_at<exp_variable>(@1, *$1, nullptr); }
    | IDENT '[' expression ']'                     { $$ = node_at<exp_variable>(@1, *$1, $3); }
    | func_call                                    { $$ = node_at<expression>(@1, $1, nullptr, kCall); }
    | '(' error ')'                                { ignored("expression"); $$ = nullptr; }
    | error                                        { ignored("expression"); $$ = nullptr; }
    ;
%%

int parse() {
    parse_root = nullptr;
    first_syntax_error = syntax_error = {};
    return yyparse();
}
