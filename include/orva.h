/*
 * ORVA — an embeddable scripting language for C++ hosts.
 *
 * This is the one public header of liborva.so. A host compiles script text with
 * ORVACompile, runs the resulting ORVA_Program with run(), registers its own functions
 * in an ORVA_Environment, exposes its objects through classes derived from ORVA_Class,
 * and keeps compiled scripts in an ORVA_Library that scripts load with "use".
 *
 * Ownership in one paragraph: a function or constructor that receives a pointer to store
 * takes it over (ORVA_Variable::setValue, ORVA_Array::set, ORVA_Library::addScript, the
 * constant of an ORVA_Instruction, the environment, arguments and local set given to run);
 * accessors lend pointers that stay owned by their container (getValue, get, next,
 * getValueAsCString, getResult). Texts are wchar_t strings allocated with malloc and
 * released with free by their owner. docs/embedding.md says more.
 */
#ifndef ORVA_H
#define ORVA_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#define ORVA_VERSION_MAJOR 0
#define ORVA_VERSION_MINOR 1
#define ORVA_VERSION_PATCH 0
#define ORVA_VERSION_STRING "0.1.0"

#if defined(ORVA_BUILDING_LIBRARY)
#define ORVA_API __attribute__((visibility("default")))
#else
#define ORVA_API
#endif

class ORVA_Value;
class ORVA_Variable;
class ORVA_VariableSystem;
class ORVA_Array;
class ORVA_Iterator;
class ORVA_Stack;
class ORVA_Class;
class ORVA_Object;
class ORVA_Instruction;
class ORVA_Program;
class ORVA_RegexCache;
class ORVA_RunCache;
class ORVA_FunctionIndex;
struct ORVA_InstructionCache;
class ORVA_SharedCode;
class ORVA_Environment;
class ORVA_Library;
class KWMPMessage;

/* Data type codes. The order matters: string-capable is 4 and above, numeric 5 and above,
   integer 6 and above, unsigned 8 and above. */
enum ORVA_DataType {
   ORVA_DT_NULL = 0,
   ORVA_DT_OBJECT = 1,
   ORVA_DT_ARRAY = 2,
   ORVA_DT_ITERATOR = 3,
   ORVA_DT_STRING = 4,
   ORVA_DT_REAL = 5,
   ORVA_DT_INT32 = 6,
   ORVA_DT_INT64 = 7,
   ORVA_DT_UINT32 = 8,
   ORVA_DT_UINT64 = 9
};

/* The names scripts see for the data types ("null" ... "uint64"), indexed by code. */
extern ORVA_API const wchar_t *const g_orvaDataTypeNames[10];

/* The value of a code address that points nowhere: an open forward jump, a function
   that was not found, no instruction being executed. */
static const uint32_t ORVA_INVALID_ADDRESS = 0xFFFFFFFF;

/* Opcodes of the virtual machine, numbered 0 to 56. The mnemonics are short, common words
   (ADD, AND, NAME, GLOBAL, ...), so they are declared in their own namespace, where no
   header's macro or enumerator of the same name can clash with them, and brought into
   view with a using-directive so that hand-built programs can write PUSH_CONST as they
   always did. A host whose own names collide with them (an enumerator ADD of its own,
   <arpa/nameser_compat.h>) defines ORVA_NO_GLOBAL_OPCODES before including this header
   and writes ORVA_Op::PUSH_CONST. */
namespace ORVA_Op {
enum ORVA_Opcode {
   NOP = 0, RET, JMP, CALL_ADDR, CALL_NAME, PUSH_CONST, PUSH_VAR, EXIT, POP, SET,
   ADD, SUB, MUL, DIV, REM, EQ, NE, LT, LE, GT, GE, BITAND, BITOR, BITXOR, AND, OR,
   LSHIFT, RSHIFT, NRET, JZ, PRINT, CONCAT, BIND, INC, DEC, NEG, NOT, BITNOT, CAST,
   AGET, INCP, DECP, JNZ, LIKE, ILIKE, MATCH, IMATCH, CASE, ARRAY, EGET, ESET, ASET,
   NAME, FOREACH, NEXT, GLOBAL, GARRAY,
   ORVA_OPCODE_COUNT
};
}
using ORVA_Op::ORVA_Opcode;
using ORVA_Op::ORVA_OPCODE_COUNT;
#ifndef ORVA_NO_GLOBAL_OPCODES
using namespace ORVA_Op;
#endif

/* Runtime error codes; ORVA_Program::getErrorText gives "Error %d in line %d: %s". */
enum ORVA_ErrorCode {
   ORVA_ERR_DATA_STACK_UNDERFLOW = 1,
   ORVA_ERR_CONTROL_STACK_UNDERFLOW = 2,
   ORVA_ERR_NOT_A_NUMBER = 3,
   ORVA_ERR_BAD_ARITHMETIC_CONVERSION = 4,
   ORVA_ERR_NULL_VALUE = 5,
   ORVA_ERR_INTERNAL = 6,
   ORVA_ERR_NO_MAIN = 7,
   ORVA_ERR_CONTROL_STACK_OVERFLOW = 8,
   ORVA_ERR_DIVIDE_BY_ZERO = 9,
   ORVA_ERR_REAL_OPERATION = 10,
   ORVA_ERR_FUNCTION_NOT_FOUND = 11,
   ORVA_ERR_INVALID_ARGUMENT_COUNT = 12,
   ORVA_ERR_TYPE_CAST = 13,
   ORVA_ERR_NOT_AN_OBJECT = 14,
   ORVA_ERR_UNKNOWN_ATTRIBUTE = 15,
   ORVA_ERR_MODULE_NOT_FOUND = 16,
   ORVA_ERR_NOT_A_STRING = 17,
   ORVA_ERR_BAD_REGEXP = 18,
   ORVA_ERR_NOT_AN_INTEGER = 19,
   ORVA_ERR_INVALID_OBJECT_OPERATION = 20,
   ORVA_ERR_BAD_CLASS = 21,
   ORVA_ERR_VARIABLE_EXISTS = 22,
   ORVA_ERR_INDEX_NOT_INTEGER = 23,
   ORVA_ERR_NOT_AN_ARRAY = 24,
   ORVA_ERR_ASSIGNMENT_TO_CONSTANT = 25,
   ORVA_ERR_NAMED_PARAMETER_REQUIRED = 26,
   /* 27 stays unassigned ("Unknown error code", raised by NEXT on a non-iterator). The
      codes below stop runs that exceed what the host allows (see ORVA_RunLimits). */
   ORVA_ERR_STEP_LIMIT = 28,
   ORVA_ERR_TEXT_LIMIT = 29,
   ORVA_ERR_ARRAY_LIMIT = 30,
   ORVA_ERR_INTERRUPTED = 31,
   ORVA_ERR_OUT_OF_MEMORY = 32,
   /* run() was called for a program whose run is still under way (from a host function
      of that run): the inner call is refused, the outer run goes on. */
   ORVA_ERR_ALREADY_RUNNING = 33
};

/* ------------------------------------------------------------------------------------
 * Values and variables
 * ------------------------------------------------------------------------------------ */

/* The one runtime value: one of ten data types, a number or a reference, a lazily formed
   and cached text form, and an optional name (named call arguments). Text that reads as a
   number becomes that number at once and keeps the text it was made from. */
class ORVA_API ORVA_Value
{
public:
   ORVA_Value();
   ORVA_Value(const ORVA_Value *src);
   ORVA_Value(ORVA_Object *object);
   ORVA_Value(ORVA_Array *array);
   ORVA_Value(ORVA_Iterator *iterator);
   ORVA_Value(int32_t number);
   ORVA_Value(uint32_t number);
   ORVA_Value(int64_t number);
   ORVA_Value(uint64_t number);
   ORVA_Value(long long number) : ORVA_Value(static_cast<int64_t>(number)) {}
   ORVA_Value(unsigned long long number) : ORVA_Value(static_cast<uint64_t>(number)) {}
   ORVA_Value(double number);
   ORVA_Value(const wchar_t *text);
   ORVA_Value(const char *text);
   ORVA_Value(const wchar_t *text, uint32_t length);
   /* A null value: new ORVA_Value(nullptr). (A null text pointer, (const wchar_t *)nullptr,
      is the empty text, which reads as the int32 0.) */
   ORVA_Value(std::nullptr_t) : ORVA_Value() {}
   /* UTF-8 text of that length, zero bytes included (std::string converts to it); each
      invalid sequence becomes U+FFFD. Text that reads as a number is that number. */
   ORVA_Value(std::string_view utf8);
   ~ORVA_Value();

   ORVA_Value(const ORVA_Value &) = delete;
   ORVA_Value &operator=(const ORVA_Value &) = delete;
   /* Exchanges everything two values hold (type, content, text, name); each keeps its
      address. */
   void swap(ORVA_Value &other) noexcept;

   /* Values come from a per-thread block pool: runs make and drop them by the million. */
   static void *operator new(size_t size);
   static void operator delete(void *block, size_t size);

   int getDataType() const { return m_dataType; }
   const wchar_t *getName() const { return m_named ? storedName() : nullptr; }
   void setName(const wchar_t *name);

   bool isNull() const { return m_dataType == ORVA_DT_NULL; }
   bool isObject() const { return m_dataType == ORVA_DT_OBJECT; }
   bool isObject(const wchar_t *className) const;
   bool isArray() const { return m_dataType == ORVA_DT_ARRAY; }
   bool isIterator() const { return m_dataType == ORVA_DT_ITERATOR; }
   bool isReal() const { return m_dataType == ORVA_DT_REAL; }
   bool isString() const { return m_dataType >= ORVA_DT_STRING; }
   bool isNumeric() const { return m_dataType >= ORVA_DT_REAL; }
   bool isInteger() const { return m_dataType >= ORVA_DT_INT32; }
   bool isUnsigned() const { return m_dataType >= ORVA_DT_UINT32; }

   ORVA_Object *getValueAsObject() const;
   ORVA_Array *getValueAsArray() const;
   ORVA_Iterator *getValueAsIterator() const;
   const wchar_t *getValueAsCString();
   const wchar_t *getValueAsString(uint32_t *length);
   /* The text form in UTF-8, ready for printf("%s") or a std::ostream in any locale; the
      empty text for null, object and array values. */
   std::string getValueAsUtf8();
   /* int32 values, the most common, are read without a call. */
   int32_t getValueAsInt32() const { return m_dataType == ORVA_DT_INT32 ? m_content.int32 : convertToInt32(); }
   uint32_t getValueAsUInt32() const;
   int64_t getValueAsInt64() const;
   uint64_t getValueAsUInt64() const;
   double getValueAsReal() const;

   bool convert(int dataType);
   void set(int32_t number);

   /* Operations that compute in place; the caller has already checked and converted the
      operands (both of one data type for binary operations). */
   void concatenate(const wchar_t *text, uint32_t length);
   void increment();
   void decrement();
   void negate();
   void bitNot();
   bool isZero() const { return m_dataType == ORVA_DT_INT32 ? m_content.int32 == 0 : testZero(); }
   bool isNonZero() const { return m_dataType == ORVA_DT_INT32 ? m_content.int32 != 0 : !testZero() && isNumeric(); }
   int EQ(const ORVA_Value *other) const;
   int LT(const ORVA_Value *other) const;
   int LE(const ORVA_Value *other) const;
   int GT(const ORVA_Value *other) const;
   int GE(const ORVA_Value *other) const;
   void add(const ORVA_Value *other);
   void sub(const ORVA_Value *other);
   void mul(const ORVA_Value *other);
   void div(const ORVA_Value *other);
   void rem(const ORVA_Value *other);
   void bitAnd(const ORVA_Value *other);
   void bitOr(const ORVA_Value *other);
   void bitXor(const ORVA_Value *other);
   void lshift(int count);
   void rshift(int count);

protected:
   /* The operator dispatch computes on two int32 operands in place. */
   friend class ORVA_Program;

   void invalidateString();
   void updateNumber();
   void updateString();

private:
   /* Upper and lower case change a copy's text in place. */
   friend ORVA_Value *MapTextCase(const ORVA_Value *source, int (*map)(int));

   void releaseReference();
   void setText(wchar_t *text, uint32_t length, size_t capacity);
   /* Characters m_string has room for, the terminator included. */
   uint32_t textCapacity() const;
   /* The text, shared with copies of the value, made its own before it changes in place. */
   wchar_t *ownText(size_t characters);
   wchar_t *moveText(size_t characters);
   const wchar_t *storedName() const;
   void dropName() noexcept;
   /* Room for the longest text a number forms: 309 digits of a real, sign, point and six
      decimals. */
   static const uint32_t kNumberTextCapacity = 336;
   uint32_t formNumberText(wchar_t *buffer) const;
   int32_t convertToInt32() const;
   friend bool IsPlainInt32(const ORVA_Value *value);
   friend bool OverwritePlainInt32(ORVA_Value *value, int32_t number);
   friend ORVA_Array *ArrayOf(const ORVA_Value *value);
   bool testZero() const;

   /* 24 bytes: arrays hold their elements' values inline, so every byte here counts a
      million times over. The name and the text's room, both secondary, are kept aside. */
   wchar_t *m_string;
   union
   {
      int32_t int32;
      uint32_t uint32;
      int64_t int64;
      uint64_t uint64;
      double real;
      ORVA_Object *object;
      ORVA_Array *array;
      ORVA_Iterator *iterator;
   } m_content;
   uint32_t m_stringLength;
   uint8_t m_dataType;
   /* The room of m_string's buffer, coded in one byte (see value.cpp). */
   uint8_t m_textRoom;
   bool m_stringValid;
   /* The cached text is exactly what updateString forms from the number, so a copy may
      leave it out and form it again when asked. */
   bool m_textFormed : 1;
   /* The value has a name (named call arguments), kept in a table beside the values. */
   bool m_named : 1;
};

/* A named value, optionally constant. */
class ORVA_API ORVA_Variable
{
public:
   ORVA_Variable(const wchar_t *name);
   ORVA_Variable(const wchar_t *name, ORVA_Value *value, bool constant);
   ORVA_Variable(ORVA_Variable *src);
   ~ORVA_Variable();

   ORVA_Variable(const ORVA_Variable &) = delete;
   ORVA_Variable &operator=(const ORVA_Variable &) = delete;

   static void *operator new(size_t size);
   static void operator delete(void *block, size_t size);

   const wchar_t *getName() const { return m_name; }
   ORVA_Value *getValue() const { return m_value; }
   bool isConstant() const { return m_constant; }
   void setValue(ORVA_Value *value);

private:
   friend class ORVA_Engine;

   wchar_t *m_name;
   ORVA_Value *m_value;
   bool m_constant;
};

/* An ordered set of variables, searched by exact, case-sensitive name; the oldest
   variable of a name wins. */
class ORVA_API ORVA_VariableSystem
{
public:
   ORVA_VariableSystem(bool constant = false);
   ORVA_VariableSystem(ORVA_VariableSystem *src);
   ~ORVA_VariableSystem();

   ORVA_VariableSystem(const ORVA_VariableSystem &) = delete;
   ORVA_VariableSystem &operator=(const ORVA_VariableSystem &) = delete;

   ORVA_Variable *find(const wchar_t *name) const;
   ORVA_Variable *create(const wchar_t *name, ORVA_Value *value);
   void merge(ORVA_VariableSystem *src);
   bool isConstant() const { return m_constant; }
   uint32_t getCount() const { return m_count; }
   ORVA_Variable *getByIndex(uint32_t index) const { return index < m_count ? m_variables[index] : nullptr; }
   /* Position of the variable find would return, or 0xFFFFFFFF. */
   uint32_t indexOf(const wchar_t *name) const;
   /* The variable at `index` if it has this name and no older variable has it (so find
      would return it), else null. Lets the engine check a remembered position cheaply. */
   ORVA_Variable *firstAt(uint32_t index, const wchar_t *name) const
   {
      if (index >= m_count || index >= m_firstDuplicate)
         return nullptr;
      ORVA_Variable *variable = m_variables[index];
      const wchar_t *own = variable->getName();
      /* Names are short: compared here rather than through a library call. */
      while (*own == *name && *own != 0)
      {
         own++;
         name++;
      }
      return (*own == *name) ? variable : nullptr;
   }

private:
   friend class ORVA_Program;
   friend class ORVA_Engine;
   friend class ORVA_RunCache;
   friend class ORVA_FrameSlots;

   void append(ORVA_Variable *variable);
   void place();
   void rehash();
   void dropIndex();
   uint32_t heldPosition(const wchar_t *name) const;
   /* Empties the set for reuse (the engine recycles the local sets of calls): the values
      are released, the variables stay behind as spares and are taken again, name
      included, when a variable of the same name is created at their position. */
   void recycle();
   /* Takes the spare at the count up again under its own name, holding `value` (taken
      over), for a caller that knows no variable before it has that name. */
   ORVA_Variable *takeUpSpare(ORVA_Value *value);

   uint32_t m_count;
   ORVA_Variable **m_variables;
   bool m_constant;
   uint32_t m_allocated;
   /* Open-addressing index over m_variables (slot = variable position + 1, 0 = empty),
      so lookups stay cheap for large sets; null while the set is small. It covers the
      spares too (see m_held). */
   uint32_t *m_index;
   uint32_t m_indexSize;
   /* Position of the first variable whose name an older one already has; 0xFFFFFFFF
      while all names differ. */
   uint32_t m_firstDuplicate;
   /* Variables held in m_variables: the m_count of the set, then spares left by recycle. */
   uint32_t m_held;
   /* Whether two held variables share a name (kept while there is an index). */
   bool m_heldDuplicates;
   /* One bit per variable name (see nameBit): a name whose bit is clear is not in the set,
      which small sets answer without comparing names. */
   uint64_t m_nameBits;
   /* Unique among all sets made in the process, and renewed whenever a position gets a
      variable of another name: while it stays the same, the variable at a position below
      m_count is the same one (see atSerial). */
   uint64_t m_serial;
   /* The script function call the set was last laid out for by the engine (the
      function's first parameter instruction and the argument count), with the name bits
      of that layout; null once a position got another name. While it stays, positions
      0..m_held-1 still carry that call's names, so the next such call only fills in
      values. */
   const void *m_layout;
   int32_t m_layoutArgc;
   /* Positions the layout covers (0 without one): each holds the first variable of its
      name in every set laid out alike. */
   uint32_t m_layoutCount;
   uint64_t m_layoutBits;
   /* The lookup epoch of the call that last used the set (0: none), which the next call
      with the same layout may take up again (see ORVA_Engine::enterFunction). */
   uint64_t m_keptEpoch;

   void renewSerial();
   /* The variable at `index` if the set still has the serial it had when the position
      was found to hold the first variable of its name, else null. */
   ORVA_Variable *atSerial(uint32_t index, uint64_t serial) const
   {
      return (serial == m_serial && index < m_count) ? m_variables[index] : nullptr;
   }
};

/* ------------------------------------------------------------------------------------
 * Arrays, iterators and the stack
 * ------------------------------------------------------------------------------------ */

/* Sparse array indexed by int32, kept sorted by index and shared by reference count.
   Reads by position move a cursor inside the array: like every value, an array is used by
   one thread at a time, reads included. */
class ORVA_API ORVA_Array
{
public:
   ORVA_Array();
   ORVA_Array(ORVA_Array *src);
   ~ORVA_Array();

   ORVA_Array(const ORVA_Array &) = delete;
   ORVA_Array &operator=(const ORVA_Array &) = delete;

   /* The element's value, lent: it stays valid until the element is given no value
      (set with null) or the array goes; a new value for the element moves into it. */
   ORVA_Value *get(int index) const;
   ORVA_Value *getByPosition(int position) const;
   /* The index of the element at a position (0 to size()-1), or 0 for another position. */
   int getIndexAtPosition(int position) const;
   /* Takes the value over. A new element is that value (get returns the pointer given);
      for an element that is there already, what `value` holds moves into the element,
      which keeps its address, and `value` is deleted. Null stores an element without a
      value. */
   void set(int index, ORVA_Value *value);
   int size() const { return m_size; }
   void incRefCount() { m_refCount++; }
   void decRefCount() { m_refCount--; }
   int isUnused() const { return m_refCount <= 0; }

private:
   struct Element
   {
      int32_t index;
      /* The value is one a host gave to set (deleted with delete), not one of the
         array's own slots. */
      bool adopted;
      ORVA_Value *value;
   };
   /* The records of an array that was filled out of order, in bounded chunks. */
   struct Chunks;
   friend class ORVA_Engine;
   friend class ORVA_SlotRunner;
   int find(int index, bool *found) const;
   Element *lookup(int index) const;
   Element *recordFor(int index, int *position) const;
   const Element *recordAt(int position) const;
   /* The value slot at a number (see array.cpp); for a dense array, the element at that
      position. */
   ORVA_Value *slotAt(int32_t slot) const;
   /* The element at `index` of a dense array; null for another index or array. */
   ORVA_Value *denseElement(int index) const;
   ORVA_Value *takeSlot();
   void releaseSlot(ORVA_Value *slot) noexcept;
   void addPage();
   void destroyValues() noexcept;
   /* set with the contents of `value` (left with the element's old contents, or null):
      an element that is already there takes them without a new value being made. */
   void assign(int index, ORVA_Value &value);
   /* assign of a plain number: an element holding neither a name nor a reference takes
      it in place, and one appended to a dense array is made in its slot. */
   void assignNumber(int index, int32_t number);
   void append(int index, ORVA_Value &value);
   void clear(int index);
   void makeRecords();

   void insert(int position, int index, ORVA_Value *value, bool adopted = false);
   void insertAt(int position, int index, ORVA_Value *value, bool adopted);
   bool makeRoom(bool atEnd);
   void makeChunks();

   int32_t m_refCount;
   int32_t m_size;
   /* Dense: the elements are the indexes m_base, m_base + 1, ... in the value slots
      0, 1, ..., with no records at all. An array stops being dense, for good, at the
      first store that would leave a gap or store no value. */
   bool m_dense;
   int32_t m_base;
   /* The records of an array that is not dense: null while the records are the one list
      at m_elements; else they are all in m_chunks. */
   int32_t m_allocated;
   Element *m_elements;
   /* Unused records in front of m_elements (which is m_front records into its block), so
      that an array filled in descending order does not move its tail on every store. */
   int32_t m_front;
   Chunks *m_chunks;
   /* The value slots: pages that never move, m_slotCount slots handed out, and the
      slots given back (linked through their own bytes) for reuse. */
   void **m_pages;
   int32_t m_pageCount;
   int32_t m_pagesAllocated;
   int32_t m_slotCount;
   ORVA_Value *m_freeSlots;
};

/* Walks an array in ascending index order for foreach. */
class ORVA_API ORVA_Iterator
{
public:
   ORVA_Iterator(const wchar_t *variableName, ORVA_Array *array);
   ~ORVA_Iterator();

   ORVA_Iterator(const ORVA_Iterator &) = delete;
   ORVA_Iterator &operator=(const ORVA_Iterator &) = delete;

   ORVA_Value *next();
   const wchar_t *getVariableName() const { return m_variableName; }
   void incRefCount() { m_refCount++; }
   void decRefCount() { m_refCount--; }
   int isUnused() const { return m_refCount <= 0; }

   /* Takes the loop variable's name and the array from the top of a data stack of
      ORVA_Value pointers and pushes an iterator value; returns 0 or a runtime error code
      (1, 24 or 17). */
   static int createIterator(ORVA_Stack *stack);

private:
   friend class ORVA_SlotRunner;
   int32_t m_refCount;
   wchar_t *m_variableName;
   ORVA_Array *m_array;
   int32_t m_position;
};

/* Growable stack of untyped pointers; it never owns what its slots point to. */
class ORVA_API ORVA_Stack
{
public:
   ORVA_Stack();
   ~ORVA_Stack();

   ORVA_Stack(const ORVA_Stack &) = delete;
   ORVA_Stack &operator=(const ORVA_Stack &) = delete;

   void push(void *item)
   {
      if (m_size == m_capacity)
         grow();
      m_slots[m_size++] = item;
   }
   void *pop() { return m_size > 0 ? m_slots[--m_size] : nullptr; }
   void *peek() const { return m_size > 0 ? m_slots[m_size - 1] : nullptr; }
   void **peekList(int n) const { return &m_slots[m_size - n]; }
   int getSize() const { return m_size; }

private:
   friend class ORVA_Engine;
   void grow();

   int32_t m_capacity;
   int32_t m_size;
   void **m_slots;
};

/* ------------------------------------------------------------------------------------
 * Classes and objects
 * ------------------------------------------------------------------------------------ */

/* Base of every class whose objects scripts can hold. A derived class writes its name
   into name (at most 63 characters) and overrides the attribute operations. */
class ORVA_API ORVA_Class
{
public:
   ORVA_Class();
   virtual ~ORVA_Class();

   const wchar_t *getName() const { return name; }

   /* Returns a new value the caller owns, or null when there is no such attribute. */
   virtual ORVA_Value *getAttr(ORVA_Object *object, const wchar_t *attribute);
   /* Returns non-zero when the attribute was set; value stays the caller's. */
   virtual int setAttr(ORVA_Object *object, const wchar_t *attribute, ORVA_Value *value);
   /* Called once per host object, when its last reference goes; releases the data. */
   virtual void onObjectDelete(ORVA_Object *object);

protected:
   wchar_t name[64];
};

/* One reference to a host object: its class and a counted handle on the host's data. */
class ORVA_API ORVA_Object
{
public:
   ORVA_Object(ORVA_Class *objectClass, void *data);
   ORVA_Object(ORVA_Object *src);
   ~ORVA_Object();

   ORVA_Object(const ORVA_Object &) = delete;
   ORVA_Object &operator=(const ORVA_Object &) = delete;

   ORVA_Class *getClass() const { return m_objectClass; }
   void *getData() const;

private:
   struct Handle;
   ORVA_Class *m_objectClass;
   Handle *m_handle;
};

/* ------------------------------------------------------------------------------------
 * Messages of the product family's client/server protocol
 * ------------------------------------------------------------------------------------ */

/* Numbered 32-bit integer and wide-string fields. Setting a field again replaces it. */
class ORVA_API KWMPMessage
{
public:
   KWMPMessage();
   ~KWMPMessage();

   KWMPMessage(const KWMPMessage &) = delete;
   KWMPMessage &operator=(const KWMPMessage &) = delete;

   void SetVariable(uint32_t id, uint32_t value);
   void SetVariable(uint32_t id, const wchar_t *value);

   /* Number of fields stored. */
   uint32_t GetFieldCount() const;
   bool IsFieldSet(uint32_t id) const;
   /* The integer field, or 0 when it is absent or a string. */
   uint32_t GetVariableLong(uint32_t id) const;
   /* The string field (owned by the message), or null when it is absent or an integer. */
   const wchar_t *GetVariableStr(uint32_t id) const;

private:
   struct Fields;
   Fields *m_fields;
};

/* ------------------------------------------------------------------------------------
 * Instructions and programs
 * ------------------------------------------------------------------------------------ */

/* One instruction of the virtual machine. Names are given as UTF-8 char strings allocated
   with malloc; the instruction converts them and frees the argument. It owns its name or
   constant operand. */
class ORVA_API ORVA_Instruction
{
public:
   ORVA_Instruction(int line, int opcode);
   ORVA_Instruction(int line, int opcode, ORVA_Value *constant);
   ORVA_Instruction(int line, int opcode, char *name);
   ORVA_Instruction(int line, int opcode, char *name, int intOperand);
   ORVA_Instruction(int line, int opcode, uint32_t address);
   /* Addresses written as unsigned long (5UL) are addresses too. */
   ORVA_Instruction(int line, int opcode, unsigned long address)
      : ORVA_Instruction(line, opcode, static_cast<uint32_t>(address)) {}
   ORVA_Instruction(int line, int opcode, int intOperand);
   ORVA_Instruction(const ORVA_Instruction *src);
   ~ORVA_Instruction();

   ORVA_Instruction(const ORVA_Instruction &) = delete;
   ORVA_Instruction &operator=(const ORVA_Instruction &) = delete;

   /* Instructions are carved from per-thread blocks: a compilation makes them by the million
      (src/vm/instruction.cpp). */
   static void *operator new(size_t size);
   static void operator delete(void *block);

   int getOpcode() const { return m_opcode; }
   int getLine() const { return m_sourceLine; }
   int getIntOperand() const { return m_intOperand; }
   uint32_t getAddress() const { return m_operand.addr; }
   const wchar_t *getNameOperand() const { return m_operand.name; }
   ORVA_Value *getConstant() const { return m_operand.constant; }

private:
   friend class ORVA_Program;
   friend class ORVA_Engine;
   friend struct ORVA_InstructionCache;
   friend ORVA_Instruction *newNamedInstruction(int line, int opcode, const char *name, int intOperand);
   void releaseOperand();

   int32_t m_opcode;
   int32_t m_intOperand;
   union
   {
      ORVA_Value *constant;
      wchar_t *name;
      uint32_t addr;
      void *raw;
   } m_operand;
   int32_t m_sourceLine;
   /* Where the instruction stands in its program: the index of what a run of the program
      keeps about it (src/vm/instruction_cache.h). The record itself stays as compiled. */
   uint32_t m_address;
};

struct ORVA_FunctionEntry
{
   wchar_t name[64];
   uint32_t address;
};

struct ORVA_ModuleEntry
{
   wchar_t name[260];
   uint32_t codeStart;
   uint32_t codeSize;
   uint32_t functionStart;
   uint32_t functionCount;
};

/* A compiled script: code, function table, preload list, variable sets, and the result or
   error text of the last run. Not safe for concurrent runs; lock/unlock are for hosts
   that share one program between threads. */
/* What one run of a program may use; 0 means no limit (the default). Exceeding a limit
   stops the run with ORVA_ERR_STEP_LIMIT, ORVA_ERR_TEXT_LIMIT or ORVA_ERR_ARRAY_LIMIT. */
struct ORVA_RunLimits
{
   uint64_t maxSteps = 0;         /* instructions executed by one run */
   uint32_t maxTextLength = 0;    /* characters in a text the run makes (concatenation, function results) */
   uint32_t maxArrayElements = 0; /* elements in one array */
};

/* One script function call in progress when a run failed. */
struct ORVA_StackFrame
{
   std::wstring function; /* "main", "$main" for the top-level code, or the function's name */
   std::wstring module;   /* the module the function comes from; empty for the program's own */
   int line = 0;          /* the line executing in it: the error's, or that of the call it made */
};

/* What stopped the last run, beside the text getErrorText gives. */
struct ORVA_ErrorInfo
{
   int code = 0;          /* the runtime error code; 0 when the last run ended well */
   int line = 0;          /* the source line, 0 before the first instruction */
   std::wstring module;   /* the module that holds the line; empty for the program's own code */
   /* What the error is about: the function called (11 "Function not found", 12, and codes
      a built-in or host function returned), the entry function (7), the module (16), the
      attribute (15); empty otherwise. */
   std::wstring name;
   std::vector<ORVA_StackFrame> callStack; /* innermost call first; empty before the first instruction */
};

class ORVA_API ORVA_Program
{
public:
   ORVA_Program();
   ~ORVA_Program();

   ORVA_Program(const ORVA_Program &) = delete;
   ORVA_Program &operator=(const ORVA_Program &) = delete;

   /* Building */
   void addInstruction(ORVA_Instruction *instruction);
   void resolveLastJump(int opcode);
   void createJumpAt(uint32_t position, uint32_t target);
   /* Returns 1, or 0 for a duplicate name with the message in errorBuffer (at most
      errorBufferSize bytes including the terminator). */
   int addFunction(const char *name, uint32_t address, char *errorBuffer, size_t errorBufferSize = 256);
   void addPreload(char *name);
   void resolveFunctions();
   void optimize();
   void removeInstructions(uint32_t start, int count);

   /* Inspection */
   void dump(FILE *file);
   uint32_t getCodeSize() const { return m_codeSize; }
   ORVA_Instruction *getInstruction(uint32_t address) const { return address < m_codeSize ? m_instructions[address] : nullptr; }
   uint32_t getFunctionCount() const { return m_functionCount; }
   const ORVA_FunctionEntry *getFunction(uint32_t index) const { return index < m_functionCount ? &m_functions[index] : nullptr; }
   uint32_t getPreloadCount() const { return m_preloadCount; }
   const wchar_t *getPreload(uint32_t index) const { return index < m_preloadCount ? m_preloadList[index] : nullptr; }
   /* "Error %d in line %d: %s" of the last run that failed; a run that ends well leaves it
      as it was (getErrorInfo tells whether the last run failed). */
   const wchar_t *getErrorText() const;
   /* The same error taken apart, with the module and the call stack (code 0: none). */
   const ORVA_ErrorInfo &getErrorInfo() const { return m_errorInfo; }
   ORVA_Value *getResult() const { return m_result; }

   /* Running. run takes over the environment, the argument values and the local set, and
      deletes them before it returns, so each run needs its own: an environment on the
      stack, or argument values that another run also gets, are freed twice, and nothing
      cheap can tell. Create both with new for every run:
         ORVA_Value *argv[] = { new ORVA_Value(L"x") };
         program->run(new MyEnvironment(), 1, argv);
      A program runs on one thread at a time, and not again from a host function of its
      own run (that call returns -1 with ORVA_ERR_ALREADY_RUNNING). */
   int run(ORVA_Environment *environment, uint32_t argc, ORVA_Value **argv,
           ORVA_VariableSystem *localSet = nullptr, ORVA_VariableSystem **globalSetReceiver = nullptr,
           ORVA_VariableSystem *constantSet = nullptr, const wchar_t *entryPoint = nullptr);
   /* Runs the script function `name` with the arguments (taken over, as by run) and the
      environment (null: a default one): run with `name` as entry point. With
      setKeepGlobals(true), the top-level code run once sets up the globals and every call
      sees them as the calls before left them. */
   int call(const wchar_t *name, uint32_t argc, ORVA_Value **argv, ORVA_Environment *environment = nullptr)
   {
      return run(environment, argc, argv, nullptr, nullptr, nullptr, name != nullptr ? name : L"");
   }
   /* Threads. A new program that shares this one's compiled code (nothing is copied or
      compiled again, so the cost does not depend on the size of the code) and has all
      else of its own: runs, result, error text, lock, and copies of the global variables
      set with setGlobalVariable, the constants, the run limits and setKeepGlobals. Each
      clone runs on its own thread while the others run on theirs; delete each when done,
      in any order (the code goes with the last). Clone a program that is not running at
      that moment (a template program that never runs is simplest); clone() during a run
      of this program returns null, as it does when memory runs out. Code that is shared
      cannot change: addInstruction, addFunction and the other building methods leave it
      as it is.
         ORVA_Program *handler = ORVACompile(source, error, sizeof error / sizeof *error);
         // on each worker thread:
         ORVA_Program *mine = handler->clone();
         mine->call(L"onEvent", 1, argv);   // ... as often as needed
         delete mine; */
   ORVA_Program *clone();
   /* Off (the default): every run starts from the globals set with setGlobalVariable and
      its changes are discarded. On: the global variables a run that ends well leaves
      become the program's for the runs that follow (findGlobalVariable sees them); a
      failed run leaves them as they were. */
   void setKeepGlobals(bool keep) { m_keepGlobals = keep; }
   bool getKeepGlobals() const { return m_keepGlobals; }
   void setGlobalVariable(const wchar_t *name, ORVA_Value *value);
   ORVA_Variable *findGlobalVariable(const wchar_t *name) const;
   void trace(int level, const wchar_t *text);
   ORVA_Environment *getEnvironment() const { return m_environment; }

   /* Limits for the runs that follow, kept until changed. Set them between runs. */
   void setRunLimits(const ORVA_RunLimits &limits) { m_limits = limits; }
   const ORVA_RunLimits &getRunLimits() const { return m_limits; }
   /* Asks the current run to stop with ORVA_ERR_INTERRUPTED; safe from any thread. A
      request made while no run is active stops the next run before its first instruction.
      Every run ends with no request pending. */
   void interrupt() { m_interruptRequested.store(true, std::memory_order_relaxed); }
   /* The serial number of the run under way, or between runs the one the next run will
      get; serials grow by one per run and never repeat for a program. */
   uint64_t getRunSerial() const { return m_runSerial.load(std::memory_order_relaxed); }
   /* Interrupts only the run with that serial, when it is under way or still to come; a
      request for a run that has ended does nothing. So a watchdog started for one run
      cannot stop the next: take getRunSerial() before run(), pass it to the watchdog. */
   void interrupt(uint64_t runSerial) { m_interruptSerial.store(runSerial, std::memory_order_relaxed); }
   /* For long-running host functions: true when they should return ORVA_ERR_INTERRUPTED. */
   bool isInterruptRequested() const
   {
      return m_interruptRequested.load(std::memory_order_relaxed) ||
             m_interruptSerial.load(std::memory_order_relaxed) == m_runSerial.load(std::memory_order_relaxed);
   }

   /* Links a compiled module into the running program (called by the environment while
      a run loads its modules). The module is only read. */
   void useModule(ORVA_Program *module, const wchar_t *name);
   /* True when a module of that name (case ignored) is linked in the current run. */
   bool hasModule(const wchar_t *name) const;

   void lock() { m_lock->lock(); }
   void unlock() { m_lock->unlock(); }

protected:
   void execute(uint32_t countdown = 1);
   void callFunction(int argc);
   uint32_t getFunctionAddress(const wchar_t *name) const;
   ORVA_Variable *findVariable(const wchar_t *name);
   ORVA_Variable *findOrCreateVariable(const wchar_t *name);
   ORVA_Variable *createVariable(const wchar_t *name);
   void error(int code);
   /* error(code) for an error about a function, module or attribute (ORVA_ErrorInfo::name). */
   void error(int code, const wchar_t *name);
   void doBinaryOperation(int opcode);
   int computeOperator(int opcode, ORVA_Value *left, ORVA_Value *right, ORVA_Value **result);
   int concatenateOperands(ORVA_Value *left, ORVA_Value *right);
   static bool operateOnInt32(int opcode, ORVA_Value *left, int32_t right);
   void doUnaryOperation(int opcode);
   int matchRegexp(ORVA_Value *pattern, ORVA_Value *text, bool ignoreCase);
   void relocateCode(uint32_t start, uint32_t length, uint32_t shift);
   uint32_t getFinalJumpDestination(uint32_t position) const;
   /* A global variable was made: no instruction may trust a variable it found before. */
   void globalsChanged();
   void codeEdited();

private:
   friend class ORVA_Engine;
   friend class ORVA_FrameSlots;
   friend class ORVA_SlotRunner;
   friend class ORVA_Compiler;
   friend struct ORVA_InstructionCache;
   friend class ORVA_SharedCode;

   std::recursive_mutex *m_lock;
   ORVA_Environment *m_environment;
   ORVA_Instruction **m_instructions;
   uint32_t m_codeSize;
   uint32_t m_currentPosition;
   uint32_t m_preloadCount;
   wchar_t **m_preloadList;
   uint32_t m_callDepth;
   ORVA_Stack *m_dataStack;
   ORVA_Stack *m_controlStack;
   int32_t m_bindCounter;
   ORVA_VariableSystem *m_constants;
   ORVA_VariableSystem *m_globals;
   ORVA_VariableSystem *m_locals;
   uint32_t m_functionCount;
   ORVA_FunctionEntry *m_functions;
   uint32_t m_moduleCount;
   ORVA_ModuleEntry *m_modules;
   ORVA_Value *m_result;
   wchar_t *m_errorText;

   /* Room the arrays above have; they grow geometrically. */
   uint32_t m_codeAllocated;
   uint32_t m_functionsAllocated;
   /* Engine-private run state (see src/vm/engine.cpp). */
   void *m_runState;
   /* What a run leaves for the next (src/vm/run_cache.h); made by the first run. */
   ORVA_RunCache *m_runCache;
   /* What runs keep about each instruction, by address (src/vm/instruction_cache.h);
      made by the first run and grown with the code. */
   ORVA_InstructionCache *m_instructionCaches;
   uint32_t m_instructionCacheCount;
   /* Counts the runs; the instructions' lookup caches are valid for one run only. */
   uint64_t m_runNumber;
   /* Changes whenever a name may come to mean another variable than before: a run
      starts, a call is entered or left, a global variable is made. Instructions trust the
      variable they found last while it stays the same. */
   uint64_t m_lookupEpoch;
   /* The last epoch handed out, and the first one still valid: a call gets a new epoch and
      its return brings the caller's back, unless a global variable appeared meanwhile. */
   uint64_t m_epochCounter;
   uint64_t m_epochFloor;
   /* While a run has no constant or global variable and its code stays as it is: the
      stamp of the code, which the lookups of locals in the program's own code note, so
      that a later run can take them from the same place of the same local set (see
      ORVA_Engine::lookup); all ones otherwise. */
   uint64_t m_carryStamp;
   /* Compiled regular expressions of MATCH and IMATCH (src/vm/regex_cache.h); made on
      first use. */
   ORVA_RegexCache *m_regexCache;
   /* Finds function table entries by name (src/vm/function_index.h); made when the first
      function is added. */
   ORVA_FunctionIndex *m_functionIndex;
   ORVA_RunLimits m_limits;
   std::atomic<bool> m_interruptRequested;
   std::atomic<uint64_t> m_runSerial;
   std::atomic<uint64_t> m_interruptSerial;
   ORVA_ErrorInfo m_errorInfo;
   /* Where the current run's entry function starts (the outermost frame of a call stack). */
   uint32_t m_entryAddress;
   bool m_keepGlobals;

   /* The code this program shares with its clones, or null while it has its own
      (src/vm/shared_code.h). */
   ORVA_SharedCode *m_sharedCode;

   /* Fills m_errorInfo for an error raised now; never throws. */
   void describeError(int code, int line, const wchar_t *name) noexcept;
   bool ownCodeArrays();
   void releaseSharedCode() noexcept;
};

/* ------------------------------------------------------------------------------------
 * The environment
 * ------------------------------------------------------------------------------------ */

/* A function scripts can call. The handler reads argv[0..argc-1] (owned by the engine:
   never destroy or return them), stores a new value in *result and returns 0; returns -1
   to end the run with *result as its result; any other return is a runtime error code. */
typedef int (*ORVA_Handler)(int argc, ORVA_Value **argv, ORVA_Value **result, ORVA_Program *program);

struct ORVA_ExtFunction
{
   wchar_t name[64];
   ORVA_Handler handler;
   int numArgs; /* -1: any number */
};

/* What a running program sees of the world: the function table (32 built-ins first, then
   the host's), the output stream, the script library and the print/trace hooks. run()
   deletes the environment it was given when it ends. */
class ORVA_API ORVA_Environment
{
public:
   ORVA_Environment();
   virtual ~ORVA_Environment();

   ORVA_Environment(const ORVA_Environment &) = delete;
   ORVA_Environment &operator=(const ORVA_Environment &) = delete;
   /* Hosts make an environment per event: it and its table come from the engine's
      per-thread block pool rather than the C allocator. */
   static void *operator new(size_t size);
   static void operator delete(void *block, size_t size);

   void registerFunctionSet(uint32_t count, const ORVA_ExtFunction *functions);
   /* The record a script's call of that name reaches, or null. The const lookup is the
      engine's and copies nothing; the other one lends a record the host may change. */
   const ORVA_ExtFunction *findFunction(const wchar_t *name) const;
   ORVA_ExtFunction *findFunction(const wchar_t *name);
   uint32_t getFunctionCount() const { return m_builtinCount + m_functionCount; }
   /* The record at a position of the table (built-ins first), or null past its end. */
   const ORVA_ExtFunction *getFunction(uint32_t index) const
   {
      if (index < m_builtinCount)
         return &m_builtins[index];
      index -= m_builtinCount;
      return index < m_functionCount ? &m_functions[index] : nullptr;
   }
   /* For sandboxes: takes every function of that name, built-in or host, out of the table;
      scripts calling it then get error 11. Returns how many records were removed. */
   uint32_t removeFunction(const wchar_t *name);
   /* Puts the record in the place of the function scripts reach under its name (a
      built-in too), or appends it when there is none; registerFunctionSet never hides a
      built-in. Returns 1 when a function was replaced, 0 when the record was appended. */
   int replaceFunction(const ORVA_ExtFunction &function);

   /* Finds, compiles and links a module into the running program; 1 linked, 0 not. */
   int useModule(ORVA_Program *program, const wchar_t *name);

   virtual void print(ORVA_Value *value);
   virtual void trace(int level, const wchar_t *text);

   void setIO(FILE *in, FILE *out) { m_stdIn = in; m_stdOut = out; }
   FILE *getStdIn() const { return m_stdIn; }
   FILE *getStdOut() const { return m_stdOut; }
   void setLibrary(ORVA_Library *library) { m_library = library; }
   ORVA_Library *getLibrary() const { return m_library; }

private:
   friend class ORVA_Engine;
   friend class ORVA_CallTargets;

   /* findFunction for a name whose position among the built-ins (FindBuiltin) is known. */
   const ORVA_ExtFunction *findFunction(const wchar_t *name, uint32_t builtin) const;
   /* Makes the table one private array, built-ins included (see m_builtins). */
   void ownTable();

   /* The table is the built-ins followed by the host's records. The built-ins are the
      read-only table every environment shares (m_builtins, m_builtinCount 32) and
      m_functions holds the host's records only, until a host asks for a record it may
      change or removes or replaces a built-in: from then on m_functions holds a private
      copy of the whole table and m_builtinCount is 0. */
   const ORVA_ExtFunction *m_builtins;
   uint32_t m_builtinCount;
   uint32_t m_functionCount;
   ORVA_ExtFunction *m_functions;
   /* The host records' array from before ownTable, kept for the pointers it lent. */
   ORVA_ExtFunction *m_retired;
   /* The bytes each of the two arrays has room for. */
   size_t m_functionRoom;
   size_t m_retiredRoom;
   ORVA_Library *m_library;
   FILE *m_stdIn;
   FILE *m_stdOut;
   /* Counts the changes of the table, so that what a run found in it is found again
      after a host function changed it during the run. */
   uint32_t m_tableEdits;
};

/* ------------------------------------------------------------------------------------
 * The script library
 * ------------------------------------------------------------------------------------ */

/* Compiled scripts kept by name (unique, case-insensitive) and id, in insertion order.
   The library owns the programs it accepts. */
class ORVA_API ORVA_Library
{
public:
   ORVA_Library();
   ~ORVA_Library();

   ORVA_Library(const ORVA_Library &) = delete;
   ORVA_Library &operator=(const ORVA_Library &) = delete;

   void lock() { m_lock->lock(); }
   void unlock() { m_lock->unlock(); }

   /* 1: the library owns the program from now on. 0: refused (a name taken, ignoring
      case; no name or no program; a program the library holds already), and the
      program stays the caller's. */
   int addScript(uint32_t id, const wchar_t *name, ORVA_Program *program);
   void deleteScript(const wchar_t *name);
   void deleteScript(uint32_t id);
   /* So that deleteScript(7) and deleteScript(7UL) (or a size_t) are not ambiguous. */
   void deleteScript(int id) { deleteScript(static_cast<uint32_t>(id)); }
   void deleteScript(unsigned long id) { deleteScript(static_cast<uint32_t>(id)); }
   ORVA_Program *findScript(const wchar_t *name) const;
   void fillMessage(KWMPMessage *message) const;
   uint32_t getCount() const { return m_count; }

private:
   void deleteInternal(int position);

   uint32_t m_count;
   ORVA_Program **m_programs;
   wchar_t **m_names;
   uint32_t *m_ids;
   std::recursive_mutex *m_lock;
};

/* ------------------------------------------------------------------------------------
 * Entry points
 * ------------------------------------------------------------------------------------ */

extern "C" {

/* Compiles source text into a program the caller owns, or returns null and copies the
   first error ("Error in line %d: %s") into errorText (at most bufferSize characters
   including the terminator) when errorText is not null. */
ORVA_API ORVA_Program *ORVACompile(const wchar_t *source, wchar_t *errorText, int bufferSize);

/* ORVACompile for zero-terminated UTF-8 source, such as a script file's bytes. A program
   compiles as its decoded text does (an invalid sequence in a string literal is U+FFFD);
   an invalid byte outside a literal is reported as the byte the text holds ("(0xFF)"),
   where its decoded text can only show U+FFFD's first byte ("(0xEF)"). It also spares
   the wide copy of a large source. */
ORVA_API ORVA_Program *ORVACompileUTF8(const char *source, wchar_t *errorText, int bufferSize);

/* Reads a UTF-8 script file into a new wide string (release with free), or null. The
   file's size in bytes is written to *size before reading. */
ORVA_API wchar_t *ORVALoadFile(const wchar_t *fileName, uint32_t *size);

/* Adds the functions for scripts that work like command-line tools (readline, format,
   round, split, join, replace, count, keys; docs/builtins.md) to the environment's table.
   They are not built in; the orva command adds them. Call it after registering the host's
   own functions, so that a host function of the same name is the one scripts call.
   `except`, a null-terminated list of names, leaves those out: the environment's functions
   hide module functions, so a host passes the names its scripts' modules define. */
ORVA_API void ORVARegisterToolFunctions(ORVA_Environment *environment, const wchar_t *const *except = nullptr);

/* The library's version, "MAJOR.MINOR.PATCH". */
ORVA_API const char *ORVAGetVersion(void);

}

/* UTF-8 text to the library's wide text and back, for hosts that keep std::string: no
   locale is involved (printf("%ls") needs setlocale with a UTF-8 locale for anything
   beyond ASCII). Invalid sequences and characters become U+FFFD; a null text gives "". */
ORVA_API std::wstring ORVAFromUtf8(std::string_view text);
ORVA_API std::string ORVAToUtf8(const wchar_t *text);

#endif
