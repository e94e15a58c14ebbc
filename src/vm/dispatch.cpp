// Operator dispatch: what the script language's operators mean for each pair of data
// types. Every check lives here; the value operations (add, EQ, concatenate, ...) only
// compute on operands already brought to one data type.
//
// Two paths. When both operands are numbers (and the operator is not CONCAT or a match),
// they are converted in place to a common type and computed on; nothing is formatted. Any
// other pair takes the string path: equality compares text forms, CONCAT joins them, the
// match operators compare text against a wildcard or a regular expression, and everything
// else is an error.
//
// Ownership: binary operators pop both operands and release them, except that arithmetic,
// bitwise, shift and CONCAT results, and comparisons of two numbers, are the left operand
// itself, pushed back. CASE works on
// the instruction's constant and the switch value on the stack, and releases neither.
#include <cstdlib>
#include <cwchar>
#include <string>

#include <tre/tre.h>

#include <orva.h>

#include "platform/platform.h"
#include "vm/bounded_match.h"
#include "vm/engine.h"
#include "vm/instruction_cache.h"
#include "vm/regex_cache.h"

// Highest capture group stored in a "$n" variable; also sizes the match record array.
constexpr int kMaxCaptureGroup = 255;

namespace
{

constexpr int kNoCommonType = -1;

bool isMatchOperator(int opcode)
{
   return opcode == LIKE || opcode == ILIKE || opcode == MATCH || opcode == IMATCH;
}

// Operators that only make sense on integers.
bool isIntegerOnly(int opcode)
{
   return opcode == REM || opcode == LSHIFT || opcode == RSHIFT || opcode == BITAND || opcode == BITOR ||
          opcode == BITXOR;
}

// The data type two numbers are brought to before `opcode` computes on them, or
// kNoCommonType. Division is always real. Between integers, an unsigned operand paired
// with a signed one counts as the signed type of its width; then the larger code wins
// (int32 < int64 < uint32 < uint64).
int commonType(int left, int right, int opcode)
{
   if (opcode == DIV)
      return ORVA_DT_REAL;
   if (left == ORVA_DT_REAL || right == ORVA_DT_REAL)
      return isIntegerOnly(opcode) ? kNoCommonType : ORVA_DT_REAL;
   const bool leftUnsigned = left >= ORVA_DT_UINT32;
   const bool rightUnsigned = right >= ORVA_DT_UINT32;
   if (leftUnsigned && !rightUnsigned)
      left -= ORVA_DT_UINT32 - ORVA_DT_INT32;
   else if (rightUnsigned && !leftUnsigned)
      right -= ORVA_DT_UINT32 - ORVA_DT_INT32;
   return (left > right) ? left : right;
}

ORVA_Value *newBoolean(bool value)
{
   return new ORVA_Value(static_cast<int32_t>(value ? 1 : 0));
}

// A comparison or logical result on the numeric path: the left operand (a popped number,
// holding no reference) becomes the int32 0 or 1, without its name, exactly what
// newBoolean would make, and is the result.
int becomeBoolean(ORVA_Value *left, bool value, ORVA_Value **result)
{
   left->set(value ? 1 : 0);
   if (left->getName() != nullptr)
      left->setName(nullptr);
   *result = left;
   return 0;
}

// Text form for comparisons: values without one (null, object, array) count as empty.
const wchar_t *textOf(ORVA_Value *value, uint32_t *length)
{
   *length = 0;
   const wchar_t *text = value->getValueAsString(length);
   if (text == nullptr)
   {
      *length = 0;
      return L"";
   }
   return text;
}

// The numeric path. Converts both operands to their common type (CASE thereby changes its
// constant and the switch value for good), then computes. Returns 0 or an error code; on
// success *result is the left operand (also for comparisons, which turn it into the int32
// result) or, for CASE, whose left operand is the instruction's constant, a new int32.
int computeNumeric(int opcode, ORVA_Value *left, ORVA_Value *right, ORVA_Value **result)
{
   const int type = commonType(left->getDataType(), right->getDataType(), opcode);
   if (type == kNoCommonType)
      return ORVA_ERR_REAL_OPERATION;
   if (!left->convert(type) || !right->convert(type))
      return ORVA_ERR_TYPE_CAST;

   switch (opcode)
   {
      case ADD: left->add(right); break;
      case SUB: left->sub(right); break;
      case MUL: left->mul(right); break;
      case DIV: left->div(right); break;
      case REM:
         // Real operands never get here, so a zero divisor is an integer one.
         if (right->isZero())
            return ORVA_ERR_DIVIDE_BY_ZERO;
         left->rem(right);
         break;
      case BITAND: left->bitAnd(right); break;
      case BITOR: left->bitOr(right); break;
      case BITXOR: left->bitXor(right); break;
      case LSHIFT: left->lshift(right->getValueAsInt32()); break;
      case RSHIFT: left->rshift(right->getValueAsInt32()); break;
      case EQ: return becomeBoolean(left, left->EQ(right) != 0, result);
      case NE: return becomeBoolean(left, left->EQ(right) == 0, result);
      case LT: return becomeBoolean(left, left->LT(right) != 0, result);
      case LE: return becomeBoolean(left, left->LE(right) != 0, result);
      case GT: return becomeBoolean(left, left->GT(right) != 0, result);
      case GE: return becomeBoolean(left, left->GE(right) != 0, result);
      case AND: return becomeBoolean(left, left->isNonZero() && right->isNonZero(), result);
      case OR: return becomeBoolean(left, left->isNonZero() || right->isNonZero(), result);
      case CASE: *result = newBoolean(left->EQ(right) != 0); return 0;
      default: return ORVA_ERR_INTERNAL;
   }
   *result = left;
   return 0;
}

// CONCAT: appends text (the right operand's) to left, unless the joined text would be
// longer than maxLength (0: no limit). Running out of memory throws std::bad_alloc.
int concatenateWithin(ORVA_Value *left, const wchar_t *text, uint32_t rightLength, uint32_t maxLength)
{
   uint32_t leftLength;
   textOf(left, &leftLength);
   const uint64_t joinedLength = static_cast<uint64_t>(leftLength) + rightLength;
   if (maxLength != 0 && joinedLength > maxLength)
      return ORVA_ERR_TEXT_LIMIT;
   left->concatenate(text, rightLength);
   return 0;
}

bool sameText(ORVA_Value *left, ORVA_Value *right)
{
   if (left->isNull() || right->isNull())
      return left->isNull() && right->isNull();
   uint32_t leftLength;
   uint32_t rightLength;
   const wchar_t *leftText = textOf(left, &leftLength);
   const wchar_t *rightText = textOf(right, &rightLength);
   return leftLength == rightLength && wmemcmp(leftText, rightText, leftLength) == 0;
}

}  // namespace

// The int32 path of the operators: when left is an int32 and `opcode` is one that int32
// operands compute without conversions, left becomes the result (what computeNumeric gives)
// and the answer is true. Anything else, division and remainder by zero included, is left
// to the general path and left stays untouched.
bool ORVA_Program::operateOnInt32(int opcode, ORVA_Value *left, int32_t b)
{
   if (left->m_dataType != ORVA_DT_INT32)
      return false;
   int32_t number;
   bool comparison;
   if (!ComputeInt32(opcode, left->m_content.int32, b, &number, &comparison))
      return false;
   // What set(number) does to an int32, and for a comparison what becomeBoolean does with
   // the name.
   if (left->m_string != nullptr)
      left->invalidateString();
   left->m_stringLength = 0;
   left->m_stringValid = false;
   left->m_textFormed = false;
   left->m_content.uint64 = 0;
   left->m_content.int32 = number;
   if (comparison && left->m_named)
      left->dropName();
   return true;
}

// CONCAT on two operands that are not null: appends right's text to left; 0 or the error
// code (left is unchanged then, unless memory ran out on the way).
int ORVA_Program::concatenateOperands(ORVA_Value *left, ORVA_Value *right)
{
   if (left->isObject() || right->isObject())
      return ORVA_ERR_INVALID_OBJECT_OPERATION;
   // The right operand is dropped at once: a number without cached text has its text
   // formed on the stack rather than in a buffer of its own.
   wchar_t digits[ORVA_Value::kNumberTextCapacity];
   uint32_t length;
   const wchar_t *text;
   if (right->isNumeric() && !right->m_stringValid)
   {
      length = right->formNumberText(digits);
      text = digits;
   }
   else
   {
      text = textOf(right, &length);
   }
   return concatenateWithin(left, text, length, m_limits.maxTextLength);
}

// Two-operand operators: ADD..RSHIFT, CONCAT, LIKE, ILIKE, MATCH, IMATCH and CASE. Pushes
// the result, or raises an error and pushes nothing.
void ORVA_Program::doBinaryOperation(int opcode)
{
   const bool isCase = (opcode == CASE);
   ORVA_Value *left;
   ORVA_Value *right;
   if (isCase)
   {
      left = ORVA_InstructionCache::caseConstant(this, m_currentPosition);
      right = static_cast<ORVA_Value *>(m_dataStack->peek());
      if (left == nullptr || right == nullptr)
      {
         error(ORVA_ERR_DATA_STACK_UNDERFLOW);
         return;
      }
   }
   else
   {
      right = static_cast<ORVA_Value *>(m_dataStack->pop());
      left = static_cast<ORVA_Value *>(m_dataStack->pop());
      if (right == nullptr || left == nullptr)
      {
         delete right;
         error(ORVA_ERR_DATA_STACK_UNDERFLOW);
         return;
      }
   }

   // Two int32 operands, the most common case, computed without the conversions.
   if (!isCase && right->m_dataType == ORVA_DT_INT32 && operateOnInt32(opcode, left, right->m_content.int32))
   {
      delete right;
      m_dataStack->push(left);
      return;
   }

   // Owns the popped operands until a result is made, so that running out of memory on
   // the way (a new value, a capture) does not lose them.
   struct OperandGuard
   {
      ORVA_Value *left;
      ORVA_Value *right;
      ~OperandGuard()
      {
         delete left;
         delete right;
      }
   } guard{isCase ? nullptr : left, isCase ? nullptr : right};

   ORVA_Value *result = nullptr;
   const int code = computeOperator(opcode, left, right, &result);

   guard.left = nullptr;
   guard.right = nullptr;
   if (!isCase)
   {
      if (result != left)
         delete left;
      delete right;
   }
   if (code != 0)
   {
      delete result;
      error(code);
      return;
   }
   if (result != nullptr)
      m_dataStack->push(result);
}

// An operator on its operands where the int32 path does not compute it (see
// doBinaryOperation): 0 with *result (left itself or a new value; null when matching
// raised its own error), or an error code with no result. It changes nothing but left,
// which may become the result or be converted to the operands' common type.
int ORVA_Program::computeOperator(int opcode, ORVA_Value *left, ORVA_Value *right, ORVA_Value **result)
{
   const bool isCase = (opcode == CASE);
   if ((left->isNull() || right->isNull()) && opcode != EQ && opcode != NE && !isCase)
      return ORVA_ERR_NULL_VALUE;
   if (left->isNumeric() && right->isNumeric() && opcode != CONCAT && !isMatchOperator(opcode))
      return computeNumeric(opcode, left, right, result);
   switch (opcode)
   {
      case EQ:
      case CASE:
         *result = newBoolean(sameText(left, right));
         return 0;
      case NE:
         *result = newBoolean(!sameText(left, right));
         return 0;
      case CONCAT:
      {
         const int code = concatenateOperands(left, right);
         if (code == 0)
            *result = left;
         return code;
      }
      case LIKE:
      case ILIKE:
      case MATCH:
      case IMATCH:
      {
         if (left->getDataType() < ORVA_DT_STRING || right->getDataType() < ORVA_DT_STRING)
            return ORVA_ERR_NOT_A_STRING;
         if (opcode == LIKE || opcode == ILIKE)
         {
            uint32_t length;
            const wchar_t *pattern = textOf(right, &length);
            const wchar_t *text = textOf(left, &length);
            *result = newBoolean(MatchString(pattern, text, opcode == LIKE));
            return 0;
         }
         const int matched = matchRegexp(right, left, opcode == IMATCH);
         if (matched >= 0)
            *result = newBoolean(matched != 0);
         return 0;
      }
      case ADD: case SUB: case MUL: case DIV: case REM:
      case LT: case LE: case GT: case GE:
      case BITAND: case BITOR: case BITXOR: case AND: case OR:
      case LSHIFT: case RSHIFT:
         return ORVA_ERR_BAD_ARITHMETIC_CONVERSION;
      default:
         return ORVA_ERR_INTERNAL;
   }
}

// NEG, NOT and BITNOT on the top of the data stack, in place.
void ORVA_Program::doUnaryOperation(int opcode)
{
   ORVA_Value *value = static_cast<ORVA_Value *>(m_dataStack->peek());
   if (value == nullptr)
   {
      error(ORVA_ERR_DATA_STACK_UNDERFLOW);
      return;
   }
   if (!value->isNumeric())
   {
      error(ORVA_ERR_BAD_ARITHMETIC_CONVERSION);
      return;
   }
   switch (opcode)
   {
      case NEG:
         value->negate();
         break;
      case NOT:
         if (value->isReal())
         {
            error(ORVA_ERR_REAL_OPERATION);
            return;
         }
         value->set(value->isZero() ? 1 : 0);
         break;
      case BITNOT:
         if (value->isReal())
         {
            error(ORVA_ERR_REAL_OPERATION);
            return;
         }
         value->bitNot();
         break;
      default:
         error(ORVA_ERR_INTERNAL);
         break;
   }
}

// Matches text against the extended regular expression `pattern` (case-insensitive when
// asked). On a match, stores capture groups 1 upwards in the local variables "$1".."$255",
// stopping at the first group that took no part. Returns 1 for a match, 0 for none, and
// -1 after raising an error: "Invalid regular expression", or the step limit or an
// interrupt stopping a match that reads too much (see bounded_match.h). Compiled patterns are kept in the
// program's regular-expression cache.
int ORVA_Program::matchRegexp(ORVA_Value *pattern, ORVA_Value *text, bool ignoreCase)
{
   uint32_t patternLength;
   const wchar_t *patternText = textOf(pattern, &patternLength);
   uint32_t textLength;
   const wchar_t *subject = textOf(text, &textLength);
   if (m_regexCache == nullptr)
      m_regexCache = new ORVA_RegexCache();

   // A pattern with back references is searched in the form that bounded matching needs,
   // unless a zero character of its own or of the subject leaves only the plain search.
   const bool backReferences = HasBackReference(patternText, patternLength);
   const bool plain = backReferences && NeedsPlainSearch(patternText, patternLength, subject, textLength);
   std::wstring rewritten;
   if (backReferences && !plain)
   {
      rewritten = NoZeroPattern(patternText, patternLength);
      patternText = rewritten.data();
      patternLength = static_cast<uint32_t>(rewritten.size());
   }
   size_t stackBytes = 0;
   const regex_t *expression =
      m_regexCache->get(patternText, patternLength, REG_EXTENDED | (ignoreCase ? REG_ICASE : 0), &stackBytes);
   if (expression == nullptr || !ORVA_RegexCache::matchFitsStack(stackBytes))
   {
      error(ORVA_ERR_BAD_REGEXP);
      return -1;
   }

   regmatch_t groups[kMaxCaptureGroup + 1];
   int matched;
   if (plain)
   {
      matched = (tre_regwnexec(expression, subject, textLength, kMaxCaptureGroup + 1, groups, 0) == 0) ? 1 : 0;
   }
   else
   {
      int stopCode = 0;
      matched = BoundedMatch(this, expression, backReferences, subject, textLength, kMaxCaptureGroup + 1, groups, &stopCode);
      if (matched < 0)
      {
         error(stopCode);
         return -1;
      }
   }
   if (matched)
   {
      const size_t groupCount = expression->re_nsub;
      for (size_t n = 1; n <= kMaxCaptureGroup && n <= groupCount; n++)
      {
         const regoff_t start = groups[n].rm_so;
         const regoff_t end = groups[n].rm_eo;
         if (start < 0 || end < start || static_cast<uint32_t>(end) > textLength)
            break;
         wchar_t name[kDollarNameSize];
         FormatDollarName(name, static_cast<uint32_t>(n));
         ORVA_Value *capture = new ORVA_Value(subject + start, static_cast<uint32_t>(end - start));
         ORVA_Variable *variable = m_locals->find(name);
         if (variable != nullptr)
            variable->setValue(capture);
         else
            m_locals->create(name, capture);
      }
   }
   return matched;
}

bool SameText(ORVA_Value *left, ORVA_Value *right)
{
   return sameText(left, right);
}
