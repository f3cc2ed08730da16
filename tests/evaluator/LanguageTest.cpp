// The formula and script language, table-driven: every case evaluates one text with the variables
// A=3, B=4, X=0.5, N=-2 bound and expects either an exact result (compared bit for bit) or an
// exact error text.
#include "EvalHelpers.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>

using evaltest::Bits;
using evaltest::Evaluate;
using evaltest::Opaque;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Case {
    const char* name;
    const char* text;
    double value;      // expected result when error is null
    const char* error; // expected error text, or null
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.text;
}

Case Ok(const char* name, const char* text, double value) {
    return {name, text, value, nullptr};
}
Case Fails(const char* name, const char* text, const char* error) {
    return {name, text, 0.0, error};
}

class LanguageTest : public testing::TestWithParam<Case> {};

TEST_P(LanguageTest, Evaluates) {
    const Case& c = GetParam();
    const evaltest::Outcome outcome =
        Evaluate(c.text, {{"A", 3.0}, {"B", 4.0}, {"X", 0.5}, {"N", -2.0}}, 1234.5);
    if (c.error != nullptr) {
        ASSERT_TRUE(outcome.error.has_value()) << c.text << " gave " << outcome.value;
        EXPECT_EQ(*outcome.error, c.error) << c.text;
        return;
    }
    ASSERT_FALSE(outcome.error.has_value()) << c.text << ": " << *outcome.error;
    if (std::isnan(c.value))
        EXPECT_TRUE(std::isnan(outcome.value)) << c.text << " gave " << outcome.value;
    else
        EXPECT_EQ(Bits(outcome.value), Bits(c.value))
            << c.text << " gave " << outcome.value << ", expected " << c.value;
}

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

#define LANGUAGE_SUITE(suite, ...)                                                                 \
    INSTANTIATE_TEST_SUITE_P(suite, LanguageTest, testing::Values(__VA_ARGS__), CaseName)

LANGUAGE_SUITE(Operators, Ok("add", "1+2", 3), Ok("subtract_groups_left", "10-4-3", 3),
               Ok("multiply", "6*7", 42), Ok("divide_groups_left", "100/10/5", 2),
               Ok("divide_inexact", "1/3", Opaque(1.0) / 3),
               Ok("sum_inexact", "0.1+0.2", Opaque(0.1) + 0.2), Ok("remainder", "7%3", 1),
               Ok("remainder_sign_of_left", "-7%3", -1), Ok("remainder_fraction", "7.5%2", 1.5),
               Ok("remainder_by_zero_is_nan", "7%0", kNaN), Ok("ceiling_division", "7$2", 4),
               Ok("ceiling_division_exact", "8$2", 4),
               Ok("ceiling_division_not_positive", "-7$2", 0),
               Ok("ceiling_division_zero_left", "0$0", 0),
               Ok("ceiling_division_nan_left", "SQRT(-1)$0", 0),
               Ok("ceiling_division_nan_right", "5$SQRT(-1)", kNaN), Ok("power", "2**10", 1024),
               Ok("power_fraction", "2**0.5", std::pow(Opaque(2.0), 0.5)),
               Ok("shift_left", "1<<4", 16), Ok("shift_left_into_sign", "1<<31", -2147483648.0),
               Ok("shift_count_modulo_32", "1<<33", 2),
               Ok("shift_negative_count", "1<<(-1)", -2147483648.0),
               Ok("shift_right_arithmetic", "-16>>2", -4), Ok("shift_truncates", "7.9>>1.9", 3),
               Ok("xor", "5^3", 6), Ok("and", "6&3", 2), Ok("or", "5|2", 7),
               Ok("and_negative", "-1&255", 255), Ok("bitwise_truncates_toward_zero", "-3.9|0", -3),
               Ok("bitwise_at_range_ends", "-2147483648|2147483647", -1),
               Ok("complement", "~5", -6), Ok("complement_negative", "~(-1)", 0),
               Ok("complement_truncates", "~2.7", -3), Ok("not_equal", "2<>3", 1),
               Ok("not_equal_same", "2<>2", 0), Ok("not_equal_nan", "SQRT(-1)<>SQRT(-1)", 1),
               Ok("greater_equal", "3>=3", 1), Ok("less_equal", "2<=1", 0), Ok("greater", "3>2", 1),
               Ok("less", "3<2", 0), Ok("equal", "2=2", 1), Ok("equal_nan", "SQRT(-1)=SQRT(-1)", 0),
               Ok("less_nan", "SQRT(-1)<1", 0), Ok("greater_equal_nan", "1>=SQRT(-1)", 0),
               Ok("and_true", "2&&3", 1), Ok("and_false_left", "0&&1", 0),
               Ok("and_false_right", "1&&0", 0), Ok("and_nan_counts_as_true", "1&&SQRT(-1)", 1),
               Ok("and_nan_left", "SQRT(-1)&&1", 1), Ok("or_false", "0||0", 0),
               Ok("or_right", "0||5", 1), Ok("or_left", "-1||0", 1), Ok("or_nan", "0||SQRT(-1)", 1),
               Ok("variables", "A*B-X", 11.5), Ok("variables_upper_cased", "a*b", 12));

LANGUAGE_SUITE(
    Priorities, Ok("multiply_before_add", "1+2*3", 7), Ok("power_groups_left", "2**3**2", 64),
    Ok("bitwise_before_add", "1+2&3", 3), Ok("bitwise_before_multiply", "4*1|2", 12),
    Ok("power_before_multiply", "2*3**2", 18), Ok("shift_before_add", "1+1<<2", 5),
    Ok("comparisons_group_left", "1<2=1", 1), Ok("comparison_after_add", "1+2<4", 1),
    Ok("logical_same_as_comparison", "1||0=0", 0), Ok("bitwise_same_level_left", "6&3^1", 3),
    Ok("parentheses", "(1+2)*3", 9), Ok("nested_parentheses", "((2))*((3+1))", 8),
    Ok("multiply_divide_left", "8/2*4", 16), Ok("remainder_same_as_multiply", "7*3%5", 1),
    Ok("function_binds_tightest", "SQRT 16*2", 8), Ok("function_after_operator", "2*SQRT 16", 8),
    Ok("function_before_add", "SQRT 4+5", 7), Ok("function_on_parentheses", "SQRT(4+5)", 3),
    Ok("function_of_function", "ABS NEG 3", 3),
    Ok("function_sin_prefix", "SIN X*2", std::sin(Opaque(0.5)) * 2),
    Ok("complement_before_multiply", "2*~1", -4), Ok("complement_after_add", "2+~1", 0));

LANGUAGE_SUITE(Signs, Ok("leading_minus", "-3", -3), Ok("leading_plus", "+5", 5),
               Ok("neg_binds_tighter_than_power", "-2**2", 4), Ok("minus_after_open", "2*(-3)", -6),
               Ok("minus_after_comma", "ROUND(1,-1)", 0), Ok("minus_after_question", "1?-2:3", -2),
               Ok("minus_after_colon", "0?2:-3", -3), Ok("neg_zero", "-0", -0.0),
               Ok("minus_variable", "-A+B", 1), Ok("plus_after_open", "(+2)*3", 6),
               Ok("binary_minus_no_space", "5-3", 2),
               Fails("minus_after_operator", "2*-3", "#Extra operation!"),
               Fails("double_minus", "--3", "#Extra operation!"),
               Fails("plus_then_minus", "+-3", "#Extra operation!"),
               Fails("minus_after_function", "ABS -3", "#Extra operation!"),
               Ok("minus_in_parentheses_after_function", "ABS(-3)", 3));

LANGUAGE_SUITE(
    Numbers, Ok("integer", "42", 42), Ok("leading_zeros", "007", 7), Ok("fraction", "2.25", 2.25),
    Ok("decimal_inexact", "0.1", 0.1), Ok("exponent", "1.5e3", 1500),
    Ok("exponent_upper_signed", "2.5E+1", 25), Ok("exponent_negative", "1e-2", 0.01),
    Ok("trailing_dot", "1.", 1), Ok("subnormal", "4e-320", 4e-320), Ok("overflow", "1e400", kInf),
    Ok("underflow", "1e-400", 0),
    Ok("long_mantissa", "123456789012345678901234567890", 123456789012345678901234567890.0),
    Ok("hex", "0x1F", 31), Ok("hex_lower", "0xff", 255), Ok("hex_zero", "0x0", 0),
    Ok("hex_max", "0x7FFFFFFF", 2147483647), Ok("hex_saturates", "0xFFFFFFFF", 2147483647),
    Ok("hex_saturates_long", "0x123456789ABCDEF0123", 2147483647), Ok("hex_negated", "-0x10", -16),
    Ok("hex_in_expression", "0x10+0x0a", 26),
    Fails("hex_upper_x_is_decimal_zero", "0XFF", "# XFF - Unknown function/variable!"),
    Fails("lone_zero_before_non_hex_x", "0xg", "# XG - Unknown function/variable!"),
    Fails("lone_zero_then_variable_x", "0x", "#Internal error!"),
    Fails("exponent_without_digits", "1e", "#Internal error!"),
    Fails("leading_dot", ".5", "#Syntax error!"), Fails("two_dots", "1.2.3", "#Syntax error!"),
    Fails("number_then_name", "2PI", "#Internal error!"));

LANGUAGE_SUITE(
    Functions, Ok("atan", "ATAN(1)", std::atan(Opaque(1))),
    Ok("cos", "COS(1)", std::cos(Opaque(1))), Ok("sin", "SIN(0.5)", std::sin(Opaque(0.5))),
    Ok("tan", "TAN(1)", std::tan(Opaque(1))), Ok("abs", "ABS(-2.5)", 2.5),
    Ok("exp", "EXP(1)", std::exp(Opaque(1))), Ok("ln", "LN(2)", std::log(Opaque(2))),
    Ok("ln_zero", "LN(0)", -kInf), Ok("ln_negative", "LN(-1)", kNaN),
    Ok("lg", "LG(2)", std::log10(Opaque(2))), Ok("sqrt", "SQRT(2)", std::sqrt(Opaque(2))),
    Ok("frac", "FRAC(2.75)", 0.75), Ok("frac_negative", "FRAC(-2.75)", -0.75),
    Ok("frac_whole_keeps_sign", "FRAC(-3)", -0.0), Ok("frac_infinite", "FRAC(1e400)", 0.0),
    Ok("trunc", "TRUNC(2.7)", 2), Ok("trunc_negative", "TRUNC(-2.7)", -2),
    Ok("floor", "FLOOR(-2.5)", -3), Ok("ceil", "CEIL(-2.5)", -2),
    Ok("asin", "ASIN(0.5)", std::asin(Opaque(0.5))),
    Ok("acos", "ACOS(0.5)", std::acos(Opaque(0.5))), Ok("asin_out_of_domain", "ASIN(2)", kNaN),
    Ok("sgn_positive", "SGN(7)", 1), Ok("sgn_negative", "SGN(-0.1)", -1),
    Ok("sgn_zero", "SGN(0)", 0), Ok("sgn_nan", "SGN(SQRT(-1))", 0), Ok("neg", "NEG(2)", -2),
    Ok("neg_flips_zero", "NEG 0", -0.0), Ok("e", "E", 2.718281828459045),
    Ok("pi", "PI", 3.141592653589793), Ok("pi_lower_case", "pi", 3.141592653589793),
    Ok("mixed_case", "Sqrt(Pi*0+4)", 2), Ok("round_half_up", "ROUND(2.5)", 3),
    Ok("round_half_away", "ROUND(-2.5)", -3), Ok("round_down", "ROUND(2.4)", 2),
    Ok("round_negative_small", "ROUND(-0.4)", -0.0),
    Ok("round_places", "ROUND(1.234,2)", std::floor(Opaque(1.234) * 10 * 10 + 0.5) / 10 / 10),
    Ok("round_places_truncated", "ROUND(1.5,0.9)", 2), Ok("round_tens", "ROUND(1250,-2)", 1300),
    Ok("round_without_parentheses", "ROUND 2.6", 3), Ok("round_in_expression", "1+ROUND(A/2)*2", 5),
    Ok("round_huge_places", "ROUND(1,2000000000)", kInf),
    Ok("round_huge_negative_places", "ROUND(123,-2000000000)", 0),
    Ok("round_nan_places", "ROUND(2.5,SQRT(-1))", 3),
    Ok("round_string_argument_is_marker", "ROUND('text')", -1.68376462823243e+308),
    Ok("round_string_then_number", "ROUND(2.5,'x')", 0),
    Fails("round_no_arguments", "ROUND()", "#Invalid parameters count for function call!"),
    Fails("round_three_arguments", "ROUND(1,2,3)", "#Invalid parameters count for function call!"),
    Fails("round_alone", "ROUND", "#Invalid parameters count for function call!"),
    // Found by the fuzzer: an operator inside the call takes the value from before the call.
    Fails("round_argument_operator_reaches_below_call", "4 5 ROUND(2 % %)",
          "#Invalid parameters count for function call!"));

LANGUAGE_SUITE(Conditional, Ok("true_branch", "1?2:3", 2), Ok("false_branch", "0?2:3", 3),
               Ok("nan_condition_is_true", "SQRT(-1)?2:3", 2),
               Ok("branch_with_operators", "0?2:3+4", 7),
               Ok("condition_with_operators", "1+1?2:3", 2),
               Ok("comparison_condition", "A>B?A:B", 4), Ok("parenthesised", "(A<B?10:20)+1", 11),
               Ok("nested_in_parentheses", "1?(0?5:6):7", 6),
               Fails("colon_without_question", "1:2", "#Logical expression error!"),
               Fails("question_without_colon", "1?2", "#Internal error!"),
               Fails("nested_without_parentheses", "1?0?5:6:7", "#Logical expression error!"),
               Fails("missing_condition", "?2:3", "#Extra operation!"));

LANGUAGE_SUITE(Scripts, Ok("assignments_and_return", "#! A1 := 2; B1 := A1 * 3; RETURN B1 + 1", 7),
               Ok("return_only", "#! RETURN 5", 5), Ok("return_lower_case", "#! return 5", 5),
               Ok("tab_after_marker", "#!\tRETURN 2", 2),
               Ok("newline_after_marker", "#!\nR := 1;\nRETURN R", 1),
               Ok("single_letter_r", "#! R := 1; RETURN R", 1),
               Ok("overwrite", "#! V := 1; V := V + 1; RETURN V", 2),
               Ok("text_after_return_ignored", "#! RETURN 1; garbage @@ (", 1),
               Ok("second_return_ignored", "#! C := 1; RETURN C; RETURN 2", 1),
               Ok("builtin_name_not_assignable", "#! PI := 3; RETURN PI", 3.141592653589793),
               Ok("caller_variable_shadows", "#! A := 10; RETURN A", 3),
               Ok("reads_caller_variables", "#! Y := X * 2; RETURN Y + A", 4),
               Ok("comment_in_script", "#! /* note */ Q := 2; RETURN Q", 2),
               Ok("names_case_insensitive", "#! q := 2; RETURN Q*q", 4),
               Fails("ends_after_assignment", "#! A := 2;", "#Unexpected end of script!"),
               Fails("ends_without_semicolon", "#! A := 2", "#Unexpected end of script!"),
               Fails("ends_after_name", "#! Q", "#Unexpected end of script!"),
               Fails("empty_script", "#! ", "#Unexpected end of script!"),
               Fails("operator_after_name", "#! A + 2", "#Assignment expected!"),
               Fails("operator_at_statement_start", "#! ; RETURN 1", "#Assignment expected!"),
               Fails("number_after_name", "#! A 2", "#Syntax error!"),
               Fails("number_at_statement_start", "#! 5", "#Syntax error!"),
               Fails("name_after_name", "#! A B", "#Variable name or return expected!"),
               Fails("string_value", "#! S := 'x'; RETURN S", "#Syntax error!"),
               Fails("brackets_checked_per_statement", "#! A1 := (1; RETURN 2)",
                     "#Brackets not match!"),
               Fails("return_without_value", "#! RETURN", "#Internal error!"),
               Fails("unknown_in_return", "#! RETURN ZZ", "# ZZ - Unknown function/variable!"),
               Fails("marker_without_space", "#!A := 1", "#Syntax error!"),
               Fails("semicolon_in_expression", "1;2", "#Syntax error!"));

LANGUAGE_SUITE(
    Errors, Fails("unclosed_bracket", "(1", "#Brackets not match!"),
    Fails("unopened_bracket", "1)", "#Brackets not match!"),
    Fails("bracket_below_zero", ")1(", "#Brackets not match!"),
    Fails("brackets_counted_in_comments", "1 /* ( */", "#Brackets not match!"),
    Fails("brackets_counted_in_strings", "ROUND('(')", "#Brackets not match!"),
    Fails("comma_outside_call", "(1,2)", "#Syntax error!"),
    Fails("comma_at_top", "1,2", "#Syntax error!"),
    Fails("unterminated_comment", "1 /* note", "#Syntax error!"),
    Fails("unterminated_string", "ROUND('abc)", "#Syntax error!"),
    Fails("string_outside_call", "'abc'", "#Syntax error!"),
    Fails("string_inside_operation", "ROUND(1+'a')", "#Syntax error!"),
    Fails("invalid_character", "1 @ 2", "#Syntax error!"),
    Fails("hash_in_expression", "#1", "#Syntax error!"),
    Fails("not_operator", "1 != 2", "#Syntax error!"),
    Fails("high_byte", "1 + \xE9", "#Syntax error!"),
    Fails("unknown_name", "foo", "# FOO - Unknown function/variable!"),
    Fails("unknown_name_with_digits", "1 + var_2", "# VAR_2 - Unknown function/variable!"),
    Fails("two_values", "1 2", "#Internal error!"), Fails("blank_text", "   ", "#Internal error!"),
    Fails("empty_parentheses", "()", "#Internal error!"),
    Fails("missing_right_operand", "1 +", "#Extra operation!"),
    Fails("missing_left_operand", "*2", "#Extra operation!"),
    Fails("complement_without_operand", "~", "#Extra operation!"),
    Fails("minus_after_complement", "~-1", "#Extra operation!"),
    Fails("function_without_operand", "SIN", "#Extra operation!"),
    Fails("complement_after_bitwise", "2&~1", "#Extra operation!"),
    Fails("bitwise_left_too_big", "2147483648 & 1", "#Value too big for operation!"),
    Fails("bitwise_right_too_small", "1 | (-2147483649)", "#Value too big for operation!"),
    Fails("shift_too_big", "1 << 4294967296", "#Value too big for operation!"),
    Fails("xor_fraction_over_range", "2147483647.5 ^ 0", "#Value too big for operation!"),
    Fails("complement_too_big", "~2147483648", "#Value too big for operation!"),
    Fails("bitwise_nan", "SQRT(-1) & 1", "#Value too big for operation!"),
    Fails("divide_by_zero", "7/0", "#Infinity somewhere!"),
    Fails("divide_by_negative_zero", "7/-0", "#Extra operation!"),
    Fails("divide_by_negative_zero_parenthesised", "7/(-0)", "#Infinity somewhere!"),
    Fails("ceiling_divide_by_zero", "7$0", "#Infinity somewhere!"),
    Fails("assignment_in_expression", "1 := 2", "#Internal error!"),
    Fails("assignment_without_operands", ":= 2", "#Extra operation!"));

} // namespace
