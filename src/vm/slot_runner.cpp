// The slot runner (see slot_runner.h).
#include "vm/slot_runner.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "values/array_slots.h"
#include "env/builtins.h"
#include "values/plain_int32.h"
#include "vm/engine.h"
#include "vm/run_cache.h"
#include "vm/slot_code.h"

namespace {

// Calls that leave within this many steps of entering count as leaving early.
constexpr uint32_t kEarlySteps = 16;
// A function whose calls mostly leave early is no longer entered, after this many such calls.
constexpr uint32_t kEarlyLeavesTolerated = 16;
// Calls by name with more arguments are left to the instruction loop.
constexpr int kMostNamedCallArguments = 8;

// A slot or data-stack value: a bare int32 or null, or any other value that holds no
// reference (a text, a real), owned; in a slot, a local array (its value, owned by the
// slot) or no variable yet; on the data stack, the array of such a slot, lent: a slot
// holding an array is never assigned in the runner, so the array outlives the values that
// lend it.
struct SlotValue
{
   union
   {
      int32_t number;
      ORVA_Value *boxed;
      ORVA_Array *array;
      ORVA_Value *owned;
   };
   // The position of the slot's variable among those the call made, from 1.
   uint32_t order;
   uint32_t tag;
};

constexpr uint32_t kUnset = 0;
constexpr uint32_t kNull = 1;
constexpr uint32_t kInt = 2;
constexpr uint32_t kBoxed = 3;
constexpr uint32_t kArray = 4;
// On the data stack, a foreach loop's walk over the array of a slot: `array`, the position
// reached in `order`, and the variable's slot in the tag's upper bits.
constexpr uint32_t kIterator = 5;
// A value of its own: `owned`, which the slot or the data stack entry releases.
constexpr uint32_t kValue = 6;
// On the data stack, the value of a slot or a constant, lent for a call by name
// (kPushVarLent, kPushValueLent): `owned`, which the slot or the program keeps.
constexpr uint32_t kLent = 7;
constexpr uint32_t kTagBits = 0xFF;

struct SlotFrame
{
   SlotFunction *function;
   // Where the frame's slots start on the runner's stack; the arguments it keeps (for a
   // function that may see "$1".."$n") follow them, then its data values.
   uint32_t slots;
   uint32_t keptArguments;
   // The op of the caller's call that made the frame (outermost frame: unused).
   uint32_t callAt;
   // The count of steps when the frame was entered, to tell a call that leaves early.
   uint32_t enteredAt;
   // Variables the call has made.
   uint32_t created;
   // Whether a slot may hold an array value or a value of its own (which the frame
   // releases when it ends).
   bool holdsOwned;
};

}  // namespace

struct ORVA_SlotRunnerState
{
   // By address in the program's own code; null until a call reaches the address.
   std::vector<std::unique_ptr<SlotFunction>> functions;
   // Addresses whose function has no compact form.
   std::vector<bool> refused;
   // The runner's stack and frames; only grown, never shrunk, so that calls allocate nothing.
   std::vector<SlotValue> stack;
   std::vector<SlotFrame> frames;
   // The int32 arguments of a built-in's call, which only reads them: set in place instead
   // of made for each call. A built-in that makes the run call again (a host's trace that
   // runs the program) finds them taken, and that call makes its own.
   ORVA_Value numbers[kMostNamedCallArguments];
   bool numbersTaken = false;
};

void ORVA_SlotRunnerStateDeleter::operator()(ORVA_SlotRunnerState *state) const noexcept
{
   delete state;
}

class ORVA_SlotRunner
{
public:
   ORVA_SlotRunner(ORVA_Program *program, ORVA_SlotRunnerState *state, uint32_t ownCodeSize)
      : m_program(program), m_state(state), m_ownCodeSize(ownCodeSize), m_run(program->m_runNumber),
        m_constantCount(countOf(program->m_constants)), m_globalCount(countOf(program->m_globals))
   {
   }

   static SlotCall call(ORVA_Program *program, uint32_t address, uint32_t ownCodeSize, int argc, uint32_t binds,
                        uint32_t *countdown, uint32_t *next, bool entry);

private:
   // Whether calls may enter `function` now: its names still mean its own variables.
   bool enterable(SlotFunction *function)
   {
      return function != nullptr && !function->tired &&
             ((function->freeInRun == m_run && function->freeConstants == m_constantCount &&
               function->freeGlobals == m_globalCount) ||
              namesFree(function));
   }

   SlotCall run(SlotFunction *function, int argc, uint32_t *countdown, uint32_t *next);
   SlotCall loop(SlotFunction *function, int argc, uint32_t *countdown, uint32_t *next);
   SlotFunction *compiled(uint32_t address);
   SlotFunction *callee(SlotOp *call);
   bool namesFree(SlotFunction *function) const;
   // The frame at `depth`, made room for; inline, as every call takes one.
   SlotFrame *pushFrame(uint32_t depth)
   {
      std::vector<SlotFrame> &frames = m_state->frames;
      if (depth >= frames.size())
         growFrames();
      return &frames[depth];
   }
   void growFrames();
   SlotValue *reserve(size_t size, const SlotValue *top);
   SlotCall finish(uint32_t count, uint32_t *countdown, uint32_t *next, SlotValue result);
   SlotCall endEntry(uint32_t ip, uint32_t count, const SlotValue *top, uint32_t *countdown, uint32_t *next);
   SlotCall stopAt(uint32_t ip, uint32_t depth, uint32_t count, const SlotValue *top, ORVA_Value *result,
                   uint32_t *countdown, uint32_t *next);
   void leave(uint32_t depth, uint32_t ip, uint32_t count, const SlotValue *top);
   void rebuildFrame(uint32_t index, size_t end);
   // Releases the array values and values of their own the slots of frame `index` hold.
   void releaseFrame(uint32_t index)
   {
      if (m_state->frames[index].holdsOwned)
         releaseSlots(index);
   }
   void releaseSlots(uint32_t index);
   void releaseAll() noexcept;
   bool mayStore(ORVA_Array *elements, int32_t index) const;
   ORVA_Value *box(SlotValue &value, const SlotFunction *function);
   // What PUSH_VAR puts on the data stack for a slot's value: the value, or the array of
   // an array value, lent.
   static SlotValue lent(const SlotValue &value)
   {
      if (value.tag != kBoxed)
         return value;
      SlotValue array{{0}, 0, kArray};
      array.array = ArrayOf(value.boxed);
      return array;
   }
   // An element of a local array, as get gives it; dense arrays without the call.
   static const ORVA_Value *elementAt(const ORVA_Array *elements, int32_t index)
   {
      return elements->m_dense ? elements->denseElement(index) : elements->get(index);
   }
   // ESET of a number into a local array: an element that holds a bare number takes the
   // new one in place.
   static void storeNumber(ORVA_Array *elements, int32_t index, int32_t number)
   {
      ORVA_Value *element = elements->denseElement(index);
      if (element == nullptr || !OverwritePlainInt32(element, number))
         elements->assignNumber(index, number);
   }
   // Whether the runner holds such a value: null, an int32, or a value of its own that
   // holds no reference and no name.
   static bool holdable(const ORVA_Value *value)
   {
      const int type = value->getDataType();
      return type != ORVA_DT_OBJECT && type != ORVA_DT_ARRAY && type != ORVA_DT_ITERATOR && value->getName() == nullptr;
   }
   // How the runner holds an argument of the call entering it: a plain int32 or null as
   // such, any other value taken over.
   static SlotValue held(ORVA_Value *value)
   {
      if (value->isNull())
         return SlotValue{{0}, 0, kNull};
      if (IsPlainInt32(value))
         return SlotValue{{value->getValueAsInt32()}, 0, kInt};
      SlotValue taken{{0}, 0, kValue};
      taken.owned = value;
      return taken;
   }
   // SET: the slot takes `source`, a number or null, or `owned`, a value of its own for it;
   // the value it held before goes.
   static void assign(SlotValue *variable, const SlotValue &source, ORVA_Value *owned)
   {
      if (variable->tag == kValue)
         delete variable->owned;
      if (owned != nullptr)
      {
         variable->owned = owned;
         variable->tag = kValue;
         return;
      }
      variable->number = source.number;
      variable->tag = source.tag;
   }
   // Whether the entry is a value, of its own or lent.
   static bool valueOf(const SlotValue &entry)
   {
      return entry.tag == kValue || entry.tag == kLent;
   }
   // Whether an operator or a call by name takes the entry as it is: null, a number, or
   // a value of its own or lent (arrays and a foreach loop's walks are the loop's).
   static bool operand(const SlotValue &entry)
   {
      return entry.tag <= kInt || valueOf(entry);
   }
   // What the `count` values below `top` are, as call arguments: kValueBit for values of
   // their own among them, kOtherBit for anything a parameter does not take (all clear:
   // numbers and null only).
   static constexpr uint32_t kValueBit = 1;
   static constexpr uint32_t kOtherBit = 2;
   static uint32_t argumentKinds(const SlotValue *top, uint32_t count)
   {
      uint32_t kinds = 0;
      for (uint32_t i = 1; i <= count; i++)
      {
         const uint32_t tag = top[-static_cast<int32_t>(i)].tag;
         if (tag > kInt)
            kinds |= (tag == kValue) ? kValueBit : kOtherBit;
      }
      return kinds;
   }
   // The int32 argument at `position` of a built-in's call, in the runner's own value.
   ORVA_Value *numberArgument(int position, int32_t number)
   {
      ORVA_Value *value = &m_state->numbers[position];
      if (!OverwritePlainInt32(value, number))
         value->set(number);
      return value;
   }
   // Makes a data stack entry a value of its own, as the instruction loop holds it.
   static ORVA_Value *own(SlotValue &entry)
   {
      if (entry.tag == kValue)
         return entry.owned;
      ORVA_Value *made = nullptr;
      if (entry.tag == kInt)
         made = new ORVA_Value(entry.number);
      else if (entry.tag == kLent)
         made = new ORVA_Value(entry.owned);
      else
         made = new ORVA_Value();
      entry.owned = made;
      entry.tag = kValue;
      return made;
   }
   // Releases the entry's value when it is one of its own.
   static void release(SlotValue &entry)
   {
      if (entry.tag == kValue)
      {
         entry.tag = kUnset;
         delete entry.owned;
      }
   }
   // Releases the values of their own among the data stack entries from `from` to `to`.
   static void drop(SlotValue *from, const SlotValue *to)
   {
      for (; from < to; from++)
         release(*from);
   }
   // After a call by name: the result as the runner holds it, or false (the value on the
   // stack as it is) for one it does not, which the instruction loop takes.
   static bool hold(ORVA_Value *result, SlotValue *entry)
   {
      if (result == nullptr)
      {
         *entry = SlotValue{{0}, 0, kNull};
         return true;
      }
      if (IsPlainInt32(result))
      {
         *entry = SlotValue{{result->getValueAsInt32()}, 0, kInt};
         delete result;
         return true;
      }
      entry->owned = result;
      entry->tag = kValue;
      return holdable(result);
   }
   static uint32_t countOf(const ORVA_VariableSystem *set) { return (set != nullptr) ? set->getCount() : 0; }

   ORVA_Program *m_program;
   ORVA_SlotRunnerState *m_state;
   uint32_t m_ownCodeSize;
   // The run, and the sizes of its constant and global sets: the runner makes no variable
   // in either, so they stay the same while it runs.
   uint64_t m_run;
   uint32_t m_constantCount;
   uint32_t m_globalCount;
   // The call instruction of the loop that entered the runner.
   uint32_t m_callAddress = 0;
   // Whether the outermost frame is the run's entry function, which the run starts with
   // instead of a call.
   bool m_entry = false;
   // The innermost frame while the runner runs; kNoFrame before the first is made.
   static constexpr uint32_t kNoFrame = ~0u;
   uint32_t m_depth = kNoFrame;
   // The top of the data stack when the runner last called what may throw (an
   // allocation, a built-in): the values below it are released should it throw.
   size_t m_top = 0;
};

SlotFunction *ORVA_SlotRunner::compiled(uint32_t address)
{
   ORVA_SlotRunnerState &state = *m_state;
   if (address >= m_ownCodeSize)
      return nullptr;
   if (state.functions.size() < m_ownCodeSize)
   {
      state.functions.resize(m_ownCodeSize);
      state.refused.resize(m_ownCodeSize);
   }
   if (state.functions[address] != nullptr)
      return state.functions[address].get();
   if (state.refused[address])
      return nullptr;
   uint32_t binds = 0;
   auto function = std::make_unique<SlotFunction>();
   function->keepsArguments = !BindsItsParameters(m_program, address, &binds);
   if (!CompileSlotFunction(m_program->m_instructions, m_ownCodeSize, address, binds, function.get()))
   {
      state.refused[address] = true;
      return nullptr;
   }
   state.functions[address] = std::move(function);
   return state.functions[address].get();
}

// The function a call op reaches, kept on the op once found.
SlotFunction *ORVA_SlotRunner::callee(SlotOp *call)
{
   if (call->callee == nullptr)
      call->callee = compiled(call->target);
   return call->callee;
}

bool ORVA_SlotRunner::namesFree(SlotFunction *function) const
{
   // Empty sets, the common case of a handler, hold no name.
   const ORVA_VariableSystem *constants = (m_constantCount != 0) ? m_program->m_constants : nullptr;
   const ORVA_VariableSystem *globals = (m_globalCount != 0) ? m_program->m_globals : nullptr;
   for (const wchar_t *name : function->names)
   {
      if ((constants != nullptr && constants->find(name) != nullptr) ||
          (globals != nullptr && globals->find(name) != nullptr))
         return false;
   }
   function->freeInRun = m_run;
   function->freeConstants = m_constantCount;
   function->freeGlobals = m_globalCount;
   return true;
}

// Doubles the frames the runner has room for.
void ORVA_SlotRunner::growFrames()
{
   std::vector<SlotFrame> &frames = m_state->frames;
   frames.resize(std::max<size_t>(16, frames.size() * 2));
}

// Makes the runner's stack at least `size` values long; returns where `top` is now.
SlotValue *ORVA_SlotRunner::reserve(size_t size, const SlotValue *top)
{
   std::vector<SlotValue> &stack = m_state->stack;
   const auto at = static_cast<size_t>(top - stack.data());
   if (stack.size() < size)
      stack.resize(std::max(size, stack.size() * 2));
   return stack.data() + at;
}

// The value for the instruction loop; a slot's array value moves out of the slot.
ORVA_Value *ORVA_SlotRunner::box(SlotValue &value, const SlotFunction *function)
{
   switch (value.tag & kTagBits)
   {
      case kInt:
         return new ORVA_Value(value.number);
      case kBoxed:
      {
         ORVA_Value *boxed = value.boxed;
         value.tag = kUnset;
         return boxed;
      }
      case kArray:
         return new ORVA_Value(value.array);
      case kValue:
         value.tag = kUnset;
         return value.owned;
      case kLent:
         return new ORVA_Value(value.owned);
      case kIterator:
      {
         // The iterator's own reference on the array, as FOREACH takes it.
         value.array->incRefCount();
         std::unique_ptr<ORVA_Iterator> iterator;
         try
         {
            iterator = std::make_unique<ORVA_Iterator>(function->names[value.tag >> 8], value.array);
         }
         catch (...)
         {
            value.array->decRefCount();
            throw;
         }
         iterator->m_position = static_cast<int32_t>(value.order);
         auto *boxed = new ORVA_Value(iterator.get());
         iterator.release();
         return boxed;
      }
      default:
         return new ORVA_Value();
   }
}

// releaseFrame for a frame that may hold values.
void ORVA_SlotRunner::releaseSlots(uint32_t index)
{
   const SlotFrame &frame = m_state->frames[index];
   SlotValue *slots = m_state->stack.data() + frame.slots;
   const uint32_t slotCount = frame.function->slotCount;
   for (uint32_t slot = 0; slot < slotCount; slot++)
   {
      if (slots[slot].tag == kBoxed || slots[slot].tag == kValue)
      {
         slots[slot].tag = kUnset;
         delete slots[slot].owned;
      }
   }
}

// Whether ESET may store at `index` without raising the array limit's error.
bool ORVA_SlotRunner::mayStore(ORVA_Array *elements, int32_t index) const
{
   const uint32_t limit = m_program->m_limits.maxArrayElements;
   return limit == 0 || static_cast<uint32_t>(elements->size()) < limit || elements->get(index) != nullptr;
}

// Pushes the outermost call's result for the instruction loop, which goes on after the call.
SlotCall ORVA_SlotRunner::finish(uint32_t count, uint32_t *countdown, uint32_t *next, SlotValue result)
{
   releaseFrame(0);
   *countdown = count;
   *next = m_callAddress + 1;
   std::unique_ptr<ORVA_Value> value(box(result, nullptr));
   m_program->m_dataStack->push(value.get());
   value.release();
   return SlotCall::kDone;
}

// A call by name at op `ip` asked to stop the run (its handler returned -1): the calls in
// progress go to the instruction loop with the arguments still on the data stack and the
// result (null for none) above them, and the loop goes on at the end of the code.
__attribute__((cold)) SlotCall ORVA_SlotRunner::stopAt(uint32_t ip, uint32_t depth, uint32_t count,
                                                       const SlotValue *top, ORVA_Value *result, uint32_t *countdown,
                                                       uint32_t *next)
{
   std::unique_ptr<ORVA_Value> value(result);
   leave(depth, ip, count, top);
   if (value == nullptr)
      value.reset(new ORVA_Value());
   m_program->m_dataStack->push(value.get());
   value.release();
   *countdown = count;
   *next = m_program->m_codeSize;
   return SlotCall::kDone;
}

// The entry function returns at op `ip`: its data values, below `top`, go to the data
// stack and the instruction loop runs the return, which ends the run.
SlotCall ORVA_SlotRunner::endEntry(uint32_t ip, uint32_t count, const SlotValue *top, uint32_t *countdown,
                                   uint32_t *next)
{
   const SlotFrame &frame = m_state->frames[0];
   const size_t end = static_cast<size_t>(top - m_state->stack.data());
   for (size_t at = frame.slots + frame.function->slotCount + frame.keptArguments; at < end; at++)
   {
      std::unique_ptr<ORVA_Value> value(box(m_state->stack[at], frame.function));
      m_program->m_dataStack->push(value.get());
      value.release();
   }
   releaseFrame(0);
   m_depth = kNoFrame;
   *countdown = count;
   *next = frame.function->start + ip;
   return SlotCall::kDone;
}

// Hands the calls in progress (frames 0..depth) over to the instruction loop, which goes
// on at op `ip` of the innermost, whose data values end below `top`. Cold like stopAt: a
// call hands over at most once, and the ops' code keeps to fewer cache lines without it.
__attribute__((cold)) void ORVA_SlotRunner::leave(uint32_t depth, uint32_t ip, uint32_t count, const SlotValue *top)
{
   std::vector<SlotFrame> &frames = m_state->frames;
   SlotFrame &innermost = frames[depth];
   SlotFunction *function = innermost.function;
   if (count <= innermost.enteredAt && innermost.enteredAt - count < kEarlySteps)
   {
      function->leftEarly++;
      function->tired = function->leftEarly > kEarlyLeavesTolerated && function->leftEarly * 2 > function->entered;
   }
   const auto topIndex = static_cast<size_t>(top - m_state->stack.data());
   for (uint32_t f = 0; f <= depth; f++)
   {
      const size_t end = (f < depth) ? frames[f + 1].slots : topIndex;
      m_program->m_currentPosition = (f == 0) ? m_callAddress : frames[f - 1].function->start + frames[f].callAt;
      rebuildFrame(f, end);
   }
   m_program->m_bindCounter = static_cast<int32_t>(function->binds + 1);
   m_program->m_currentPosition = function->start + ip;
}

// The instruction loop's frame for runner frame `index`, whose data values end at `end`:
// the arguments it keeps ("$n" down to "$1", as a call makes them), the parameters, then
// the other variables in the order the call made them.
void ORVA_SlotRunner::rebuildFrame(uint32_t index, size_t end)
{
   const SlotFrame &frame = m_state->frames[index];
   const SlotFunction *function = frame.function;
   SlotValue *slots = m_state->stack.data() + frame.slots;
   // The entry function of a run has the run's own local set, and no caller.
   ORVA_VariableSystem *locals = (index == 0 && m_entry) ? m_program->m_locals : OpenCallFrame(m_program);
   for (uint32_t n = frame.keptArguments; n >= 1; n--)
   {
      wchar_t name[kDollarNameSize];
      FormatDollarName(name, n);
      locals->create(name, box(slots[function->slotCount + n - 1], function));
   }
   std::vector<std::pair<uint32_t, uint32_t>> made;
   for (uint32_t slot = 0; slot < function->slotCount; slot++)
   {
      if (slot < function->binds)
         made.emplace_back(slot, slot);
      else if (slots[slot].tag != kUnset)
         made.emplace_back(function->binds + slots[slot].order, slot);
   }
   std::sort(made.begin(), made.end());
   for (const auto &variable : made)
      locals->create(function->names[variable.second], box(slots[variable.second], function));
   for (size_t at = frame.slots + function->slotCount + frame.keptArguments; at < end; at++)
   {
      std::unique_ptr<ORVA_Value> value(box(m_state->stack[at], function));
      m_program->m_dataStack->push(value.get());
      value.release();
   }
}

// Runs the call; should memory run out, the arrays the frames hold are released.
SlotCall ORVA_SlotRunner::run(SlotFunction *function, int argc, uint32_t *countdown, uint32_t *next)
{
   try
   {
      return loop(function, argc, countdown, next);
   }
   catch (...)
   {
      releaseAll();
      throw;
   }
}

// Releases what the frames in progress hold, their slots and their data values, when
// memory ran out.
void ORVA_SlotRunner::releaseAll() noexcept
{
   std::vector<SlotFrame> &frames = m_state->frames;
   SlotValue *stack = m_state->stack.data();
   for (uint32_t f = 0; m_depth != kNoFrame && f <= m_depth; f++)
   {
      releaseFrame(f);
      const SlotFrame &frame = frames[f];
      const size_t end = (f < m_depth) ? frames[f + 1].slots : m_top;
      drop(stack + frame.slots + frame.function->slotCount + frame.keptArguments, stack + end);
   }
}

SlotCall ORVA_SlotRunner::loop(SlotFunction *function, int argc, uint32_t *countdown, uint32_t *next)
{
   ORVA_Program *program = m_program;
   ORVA_Stack *data = program->m_dataStack;
   void **arguments = data->peekList(argc);
   bool plain = true;
   for (int i = 0; i < argc; i++)
   {
      const auto *argument = static_cast<const ORVA_Value *>(arguments[i]);
      if (argument->isNull() || IsPlainInt32(argument))
         continue;
      // Kept arguments would be copies of values of their own: such a call stays in the loop.
      if (!holdable(argument) || function->keepsArguments)
         return SlotCall::kNotTaken;
      plain = false;
   }
   m_callAddress = program->m_currentPosition;
   // The parameters the call binds count as run, as in the instruction loop.
   uint32_t count = *countdown - function->binds;
   SlotValue *slots = reserve(function->frameSize + static_cast<uint32_t>(argc), m_state->stack.data());
   uint32_t depth = 0;
   SlotFrame *frame = pushFrame(depth);
   const uint32_t kept = function->keepsArguments ? static_cast<uint32_t>(argc) : 0;
   *frame = SlotFrame{function, 0, kept, 0, count, 0, !plain};
   function->entered++;
   const auto given = static_cast<uint32_t>(argc);
   for (uint32_t i = 0; i < function->binds; i++)
      slots[i] = (i < given) ? held(static_cast<ORVA_Value *>(arguments[i])) : SlotValue{{0}, 0, kNull};
   for (uint32_t i = function->binds; i < function->slotCount; i++)
      slots[i].tag = kUnset;
   for (uint32_t i = 0; i < kept; i++)
      slots[function->slotCount + i] = held(static_cast<ORVA_Value *>(arguments[i]));
   m_depth = 0;
   m_top = 0;
   for (uint32_t i = given; i-- > 0;)
   {
      auto *argument = static_cast<ORVA_Value *>(data->pop());
      if (i >= function->binds || slots[i].tag != kValue)
         delete argument;
   }

   SlotValue *sp = slots + function->slotCount + kept;
   SlotOp *ops = function->ops.data();
   SlotOp *pc = ops + function->binds;

// One step of the instruction loop's count, with its checkpoint; a checkpoint that stops
// the run hands the calls over first, so that the error is raised as the loop raises it.
#define STEP()                                                                        \
   do                                                                                 \
   {                                                                                  \
      if (--count == 0)                                                               \
      {                                                                               \
         int code = 0;                                                                \
         count = NextRunSlice(program, &code);                                        \
         if (count == 0)                                                              \
         {                                                                            \
            m_top = static_cast<size_t>(sp - m_state->stack.data());                  \
            leave(depth, static_cast<uint32_t>(pc - ops), 1, sp);                      \
            program->error(code);                                                     \
            return SlotCall::kFailed;                                                 \
         }                                                                            \
      }                                                                               \
   } while (0)

   // Threaded dispatch: each op jumps straight to the next one's code.
   static void *const kCode[] = {
      &&op_Leave,
      &&op_Nop,
      &&op_PushInt,
      &&op_PushNull,
      &&op_PushVar,
      &&op_PushVarLent,
      &&op_PushValueLent,
      &&op_Set,
      &&op_Pop,
      &&op_Operate,
      &&op_Step,
      &&op_Jump,
      &&op_JumpZero,
      &&op_JumpNonZero,
      &&op_Call,
      &&op_PushValue,
      &&op_CallName,
      &&op_Return,
      &&op_ReturnNull,
      &&op_Array,
      &&op_ElementGet,
      &&op_ElementSet,
      &&op_SetPop,
      &&op_StepPop,
      &&op_OperateVar,
      &&op_OperateInt,
      &&op_CompareJump,
      &&op_PushVarVar,
      &&op_ElementSetPop,
      &&op_VarCompareJump,
      &&op_VarIntCompareJump,
      &&op_VarOperateSet,
      &&op_VarIntOperateSet,
      &&op_StoreInt,
      &&op_StoreVar,
      &&op_ElementCompareJump,
      &&op_ConcatSetPop,
      &&op_Foreach,
      &&op_Next,
   };
   static_assert(sizeof(kCode) / sizeof(kCode[0]) == SlotOp::kKindCount, "one label per kind of op");
#define DISPATCH() goto *kCode[pc->kind]
// Before anything that may throw: the data values to release should it.
#define MARK_TOP() (m_top = static_cast<size_t>(sp - m_state->stack.data()))

   DISPATCH();
   op_Nop:
      STEP();
      pc++;
      DISPATCH();
   op_PushInt:
      STEP();
      *sp++ = SlotValue{{pc->number}, 0, kInt};
      pc++;
      DISPATCH();
   op_PushNull:
      STEP();
      *sp++ = SlotValue{{0}, 0, kNull};
      pc++;
      DISPATCH();
   op_PushVar:
   {
      const SlotValue &value = slots[pc->slot];
      if (value.tag == kUnset)
         goto handOver;
      STEP();
      if (value.tag == kValue)
      {
         MARK_TOP();
         sp->owned = new ORVA_Value(value.owned);
         sp->tag = kValue;
         sp++;
      }
      else
      {
         *sp++ = lent(value);
      }
      pc++;
      DISPATCH();
   }
   op_PushVarLent:
   {
      const SlotValue &value = slots[pc->slot];
      if (value.tag != kValue)
         goto op_PushVar;
      STEP();
      sp->owned = value.owned;
      sp->tag = kLent;
      sp++;
      pc++;
      DISPATCH();
   }
   op_PushValueLent:
      STEP();
      sp->owned = const_cast<ORVA_Value *>(pc->constant);
      sp->tag = kLent;
      sp++;
      pc++;
      DISPATCH();
   op_PushValue:
   {
      STEP();
      MARK_TOP();
      sp->owned = new ORVA_Value(pc->constant);
      sp->tag = kValue;
      sp++;
      pc++;
      DISPATCH();
   }
   op_Set:
   {
      SlotValue &variable = slots[pc->slot];
      if (variable.tag == kBoxed || (sp[-1].tag > kInt && sp[-1].tag != kValue))
         goto handOver;
      STEP();
      ORVA_Value *copy = nullptr;
      if (sp[-1].tag == kValue)
      {
         MARK_TOP();
         copy = new ORVA_Value(sp[-1].owned);
      }
      if (variable.tag == kUnset)
         variable.order = ++frame->created;
      assign(&variable, sp[-1], copy);
      frame->holdsOwned |= (copy != nullptr);
      pc++;
      DISPATCH();
   }
   op_Array:
   {
      SlotValue &variable = slots[pc->slot];
      if (variable.tag != kUnset && variable.tag != kBoxed)
         goto handOver;
      STEP();
      if (variable.tag == kUnset)
      {
         variable.boxed = NewArrayValue();
         variable.tag = kBoxed;
         variable.order = ++frame->created;
         frame->holdsOwned = true;
      }
      pc++;
      DISPATCH();
   }
   op_ElementGet:
   {
      if (sp[-2].tag != kArray || sp[-1].tag != kInt)
         goto handOver;
      const ORVA_Value *element = elementAt(sp[-2].array, sp[-1].number);
      if (element != nullptr && !IsPlainInt32(element))
         goto handOver;
      STEP();
      sp--;
      sp[-1] = (element != nullptr) ? SlotValue{{element->getValueAsInt32()}, 0, kInt} : SlotValue{{0}, 0, kNull};
      pc++;
      DISPATCH();
   }
   op_ElementSet:
   {
      if (sp[-3].tag != kArray || sp[-2].tag != kInt || sp[-1].tag != kInt ||
          !mayStore(sp[-3].array, sp[-2].number))
         goto handOver;
      STEP();
      storeNumber(sp[-3].array, sp[-2].number, sp[-1].number);
      sp -= 2;
      sp[-1] = sp[1];
      pc++;
      DISPATCH();
   }
   op_Pop:
      STEP();
      drop(sp - pc->number, sp);
      sp -= pc->number;
      pc++;
      DISPATCH();
   op_Operate:
   {
      int32_t number;
      bool comparison;
      if (sp[-2].tag == kInt && sp[-1].tag == kInt &&
          ComputeInt32(pc->opcode, sp[-2].number, sp[-1].number, &number, &comparison))
      {
         STEP();
         sp--;
         sp[-1].number = number;
         pc++;
         DISPATCH();
      }
      if (!operand(sp[-2]) || !operand(sp[-1]))
         goto handOver;
      STEP();
      MARK_TOP();
      // (In)equality of operands that are not both numbers compares their texts: it makes
      // no value, and a variable lent to it stays as it was.
      if ((pc->opcode == EQ || pc->opcode == NE) && valueOf(sp[-2]) && valueOf(sp[-1]) &&
          !(sp[-2].owned->isNumeric() && sp[-1].owned->isNumeric()))
      {
         const bool same = SameText(sp[-2].owned, sp[-1].owned);
         release(sp[-2]);
         release(sp[-1]);
         sp--;
         sp[-1] = SlotValue{{(same == (pc->opcode == EQ)) ? 1 : 0}, 0, kInt};
         pc++;
         DISPATCH();
      }
      ORVA_Value *left = own(sp[-2]);
      ORVA_Value *result = nullptr;
      int code;
      if (sp[-1].tag == kInt)
      {
         // The operator reads or converts its right operand and keeps nothing of it, so a
         // number is one on the C stack. Scoped: the threaded jumps may not leave a
         // value's lifetime.
         ORVA_Value number(sp[-1].number);
         code = program->computeOperator(pc->opcode, left, &number, &result);
      }
      else
      {
         // A constant lent as the right operand is one the operator only reads.
         ORVA_Value *right = (sp[-1].tag == kLent) ? sp[-1].owned : own(sp[-1]);
         code = program->computeOperator(pc->opcode, left, right, &result);
      }
      if (code != 0)
      {
         // Nothing the loop could tell apart changed: it runs the instruction again and
         // raises the error.
         count++;
         goto handOver;
      }
      // Left has become the result, or goes; right goes.
      sp[-2].tag = kUnset;
      if (result != left)
         delete left;
      release(sp[-1]);
      sp--;
      const bool taken = hold(result, sp - 1);
      pc++;
      if (!taken)
         goto handOver;
      DISPATCH();
   }
   op_CallName:
   {
      // The runner runs the program's own code only: the run cache knows its calls.
      const ORVA_ExtFunction *target = program->m_runCache->callTargets().find(
         *program->m_environment, function->start + static_cast<uint32_t>(pc - ops), pc->instruction->getNameOperand());
      const int argc = pc->number;
      if (target == nullptr || target->handler == nullptr || argc > kMostNamedCallArguments ||
          (target->numArgs != -1 && target->numArgs != argc))
         goto handOver;
      MARK_TOP();
      // A built-in only reads its arguments: it may read a variable's own value, and a
      // number in one of the runner's values. A host function gets copies, which it may
      // change. An entry made a value of its own before the loop takes over is one still.
      const bool builtin = IsBuiltinRecord(target);
      const bool numbersFree = builtin && !m_state->numbersTaken;
      // Whether the call takes any of the runner's numbers, and any value of an entry's own.
      bool numbers = false;
      bool values = false;
      ORVA_Value *argv[kMostNamedCallArguments];
      for (int i = 0; i < argc; i++)
      {
         SlotValue &entry = sp[i - argc];
         if (!operand(entry))
            goto handOver;
         if (builtin && entry.tag == kLent)
         {
            argv[i] = entry.owned;
         }
         else if (numbersFree && entry.tag == kInt)
         {
            argv[i] = numberArgument(i, entry.number);
            numbers = true;
         }
         else
         {
            argv[i] = own(entry);
            values = true;
         }
      }
      STEP();
      ORVA_Value *result = nullptr;
      int rc = 0;
      if (numbers)
         m_state->numbersTaken = true;
      try
      {
         rc = CallHandler(program, target, argc, argv, &result);
      }
      catch (...)
      {
         if (numbers)
            m_state->numbersTaken = false;
         // What the handler threw reaches the run as from the instruction loop.
         leave(depth, static_cast<uint32_t>(pc - ops), count, sp);
         throw;
      }
      if (numbers)
         m_state->numbersTaken = false;
      const int limitCode = (rc == 0 || rc == -1) ? CheckCreatedValue(program, result) : 0;
      if (rc == -1 && limitCode == 0)
         return stopAt(static_cast<uint32_t>(pc - ops), depth, count, sp, result, countdown, next);
      if (rc != 0 || limitCode != 0)
      {
         // The arguments stay on the data stack, as in the instruction loop.
         delete result;
         leave(depth, static_cast<uint32_t>(pc - ops), count, sp);
         if (limitCode != 0)
            program->error(limitCode);
         else
            program->error(rc, pc->instruction->getNameOperand());
         return SlotCall::kFailed;
      }
      if (values)
         drop(sp - argc, sp);
      sp -= argc;
      const bool taken = hold(result, sp);
      sp++;
      pc++;
      // A host function may have made a global (setGlobalVariable), which a name of the
      // function would now find before its local: the loop takes over.
      if (!taken || (!builtin && countOf(program->m_globals) != m_globalCount))
         goto handOver;
      DISPATCH();
   }
   op_Step:
   {
      SlotValue &variable = slots[pc->slot];
      if (variable.tag != kInt)
         goto handOver;
      STEP();
      const int opcode = pc->opcode;
      if (opcode == INC || opcode == DEC)
         *sp++ = variable;
      const uint32_t change = (opcode == INC || opcode == INCP) ? 1u : ~0u;
      variable.number = static_cast<int32_t>(static_cast<uint32_t>(variable.number) + change);
      if (opcode == INCP || opcode == DECP)
         *sp++ = variable;
      pc++;
      DISPATCH();
   }
   op_Jump:
      STEP();
      pc = ops + pc->target;
      DISPATCH();
   op_JumpZero:
   op_JumpNonZero:
   {
      if (sp[-1].tag != kInt)
         goto handOver;
      STEP();
      sp--;
      const bool zero = (sp->number == 0);
      pc = (zero == (pc->kind == SlotOp::kJumpZero)) ? ops + pc->target : pc + 1;
      DISPATCH();
   }
   op_Call:
   {
      SlotFunction *target = callee(pc);
      const auto argc = static_cast<uint32_t>(pc->number);
      const uint32_t kinds = argumentKinds(sp, argc);
      if (!enterable(target) || program->m_callDepth + depth + 1 >= kMaxCallDepth ||
          (kinds & ~kValueBit) != 0 || ((kinds & kValueBit) != 0 && target->keepsArguments))
         goto handOver;
      STEP();
      MARK_TOP();
      const auto callAt = static_cast<uint32_t>(pc - ops);
      const size_t at = static_cast<size_t>(sp - m_state->stack.data()) - argc;
      const uint32_t kept = target->keepsArguments ? argc : 0;
      if (at + target->frameSize + kept > m_state->stack.size())
         sp = reserve(at + target->frameSize + kept, sp);
      frame = pushFrame(++depth);
      m_depth = depth;
      *frame = SlotFrame{target, static_cast<uint32_t>(at), kept, callAt, count, 0, kinds != 0};
      target->entered++;
      slots = m_state->stack.data() + at;
      // The arguments stay where they are as the parameters; kept ones are copied past the slots.
      if (kept > 0)
         std::memmove(static_cast<void *>(slots + target->slotCount), slots, kept * sizeof(SlotValue));
      for (uint32_t i = argc; i < target->binds; i++)
         slots[i] = SlotValue{{0}, 0, kNull};
      if (argc > target->binds)
         drop(slots + target->binds, slots + argc);
      for (uint32_t i = target->binds; i < target->slotCount; i++)
         slots[i].tag = kUnset;
      function = target;
      ops = target->ops.data();
      sp = slots + target->slotCount + kept;
      // The parameters count as run, each where its BIND stands should a checkpoint
      // fall among them.
      if (count > target->binds)
         count -= target->binds;
      else
         for (pc = ops; pc < ops + target->binds; pc++)
            STEP();
      pc = ops + target->binds;
      DISPATCH();
   }
   op_Return:
   op_ReturnNull:
   {
      const SlotValue result = (pc->kind == SlotOp::kReturn) ? sp[-1] : SlotValue{{0}, 0, kNull};
      if (result.tag > kInt && result.tag != kValue)
         goto handOver;
      if (depth == 0 && m_entry)
      {
         // The loop's return ends the run, which needs the entry function's values on the
         // data stack but not its variables.
         MARK_TOP();
         return endEntry(static_cast<uint32_t>(pc - ops), count, sp, countdown, next);
      }
      STEP();
      // The result moves out of its entry; whatever else the frame has on the data stack
      // (a foreach loop's walk) goes.
      if (pc->kind == SlotOp::kReturn)
         sp[-1].tag = kUnset;
      SlotValue *data = slots + function->slotCount + frame->keptArguments;
      SlotValue *under = (pc->kind == SlotOp::kReturn) ? sp - 1 : sp;
      if (under > data)
         drop(data, under);
      if (depth == 0)
         return finish(count, countdown, next, result);
      releaseFrame(depth);
      const uint32_t callAt = frame->callAt;
      frame = &m_state->frames[--depth];
      m_depth = depth;
      *slots = result;
      sp = slots + 1;
      function = frame->function;
      ops = function->ops.data();
      slots = m_state->stack.data() + frame->slots;
      pc = ops + callAt + 1;
      DISPATCH();
   }
   op_Leave:
      goto handOver;
   op_PushVarVar:
   {
      const SlotValue &first = slots[pc->slot];
      const SlotValue &second = slots[pc->number];
      if (count <= 2 || first.tag == kUnset || second.tag == kUnset || first.tag == kValue || second.tag == kValue)
         goto *kCode[pc->base];
      count -= 2;
      sp[0] = lent(first);
      sp[1] = lent(second);
      sp += 2;
      pc += 2;
      DISPATCH();
   }
   op_ElementSetPop:
   {
      if (count <= 2 || sp[-3].tag != kArray || sp[-2].tag != kInt || sp[-1].tag != kInt ||
          !mayStore(sp[-3].array, sp[-2].number))
         goto *kCode[pc->base];
      count -= 2;
      storeNumber(sp[-3].array, sp[-2].number, sp[-1].number);
      sp -= 3;
      pc += 2;
      DISPATCH();
   }
   op_Foreach:
   {
      const SlotValue &elements = slots[pc->number];
      if (count <= 3 || elements.tag != kBoxed)
         goto *kCode[pc->base];
      count -= 3;
      sp->array = ArrayOf(elements.boxed);
      sp->order = static_cast<uint32_t>(-1);
      sp->tag = kIterator | (static_cast<uint32_t>(pc->slot) << 8);
      sp++;
      pc += 3;
      DISPATCH();
   }
   op_Next:
   {
      SlotValue &iterator = sp[-1];
      if ((iterator.tag & kTagBits) != kIterator)
         goto handOver;
      SlotValue &variable = slots[iterator.tag >> 8];
      const auto position = static_cast<int32_t>(iterator.order);
      const int32_t reached = (position < std::numeric_limits<int32_t>::max()) ? position + 1 : position;
      const ORVA_Value *element = iterator.array->getByPosition(reached);
      if (variable.tag == kBoxed || variable.tag == kValue || (element != nullptr && !IsPlainInt32(element)))
         goto handOver;
      STEP();
      iterator.order = static_cast<uint32_t>(reached);
      if (variable.tag == kUnset)
         variable.order = ++frame->created;
      variable.number = (element != nullptr) ? element->getValueAsInt32() : 0;
      variable.tag = (element != nullptr) ? kInt : kNull;
      *sp++ = SlotValue{{(element != nullptr) ? 1 : 0}, 0, kInt};
      pc++;
      DISPATCH();
   }
   op_SetPop:
   {
      SlotValue &variable = slots[pc->slot];
      if (count <= 2 || variable.tag == kBoxed || (sp[-1].tag > kInt && sp[-1].tag != kValue))
         goto *kCode[pc->base];
      count -= 2;
      if (variable.tag == kUnset)
         variable.order = ++frame->created;
      sp--;
      // The value moves from the data stack into the slot.
      assign(&variable, *sp, (sp->tag == kValue) ? sp->owned : nullptr);
      frame->holdsOwned |= (sp->tag == kValue);
      sp->tag = kUnset;
      pc += 2;
      DISPATCH();
   }
   op_StepPop:
   {
      SlotValue &variable = slots[pc->slot];
      if (count <= 2 || variable.tag != kInt)
         goto *kCode[pc->base];
      count -= 2;
      const uint32_t change = (pc->opcode == INC || pc->opcode == INCP) ? 1u : ~0u;
      variable.number = static_cast<int32_t>(static_cast<uint32_t>(variable.number) + change);
      pc += 2;
      DISPATCH();
   }
   op_OperateVar:
   {
      int32_t number;
      bool comparison;
      const SlotValue &variable = slots[pc->slot];
      if (count <= 2 || sp[-1].tag != kInt || variable.tag != kInt ||
          !ComputeInt32(pc->opcode, sp[-1].number, variable.number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 2;
      sp[-1].number = number;
      pc += 2;
      DISPATCH();
   }
   op_OperateInt:
   {
      int32_t number;
      bool comparison;
      if (count <= 2 || sp[-1].tag != kInt || !ComputeInt32(pc->opcode, sp[-1].number, pc->number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 2;
      sp[-1].number = number;
      pc += 2;
      DISPATCH();
   }
   op_CompareJump:
   {
      int32_t number;
      bool comparison;
      if (count <= 2 || sp[-2].tag != kInt || sp[-1].tag != kInt ||
          !ComputeInt32(pc->opcode, sp[-2].number, sp[-1].number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 2;
      sp -= 2;
      pc = ((number == 0) == pc->jumpIfZero) ? ops + pc->target : pc + 2;
      DISPATCH();
   }
   op_VarCompareJump:
   {
      int32_t number;
      bool comparison;
      const SlotValue &first = slots[pc->slot];
      const SlotValue &second = slots[pc->other];
      if (count <= 4 || first.tag != kInt || second.tag != kInt ||
          !ComputeInt32(pc->opcode, first.number, second.number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 4;
      pc = ((number == 0) == pc->jumpIfZero) ? ops + pc->target : pc + 4;
      DISPATCH();
   }
   op_VarIntCompareJump:
   {
      int32_t number;
      bool comparison;
      const SlotValue &first = slots[pc->slot];
      if (count <= 4 || first.tag != kInt || !ComputeInt32(pc->opcode, first.number, pc->number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 4;
      pc = ((number == 0) == pc->jumpIfZero) ? ops + pc->target : pc + 4;
      DISPATCH();
   }
   op_VarOperateSet:
   {
      int32_t number;
      bool comparison;
      const SlotValue &first = slots[pc->slot];
      const SlotValue &second = slots[pc->other];
      SlotValue &variable = slots[pc->target];
      if (count <= 5 || first.tag != kInt || second.tag != kInt || variable.tag > kInt ||
          !ComputeInt32(pc->opcode, first.number, second.number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 5;
      if (variable.tag == kUnset)
         variable.order = ++frame->created;
      variable.number = number;
      variable.tag = kInt;
      pc += 5;
      DISPATCH();
   }
   op_VarIntOperateSet:
   {
      int32_t number;
      bool comparison;
      const SlotValue &first = slots[pc->slot];
      SlotValue &variable = slots[pc->target];
      if (count <= 5 || first.tag != kInt || variable.tag > kInt ||
          !ComputeInt32(pc->opcode, first.number, pc->number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 5;
      if (variable.tag == kUnset)
         variable.order = ++frame->created;
      variable.number = number;
      variable.tag = kInt;
      pc += 5;
      DISPATCH();
   }
   op_StoreInt:
   {
      const SlotValue &elements = slots[pc->slot];
      const SlotValue &index = slots[pc->other];
      if (count <= 5 || elements.tag != kBoxed || index.tag != kInt ||
          !mayStore(ArrayOf(elements.boxed), index.number))
         goto *kCode[pc->base];
      count -= 5;
      storeNumber(ArrayOf(elements.boxed), index.number, pc->number);
      pc += 5;
      DISPATCH();
   }
   op_StoreVar:
   {
      const SlotValue &elements = slots[pc->slot];
      const SlotValue &index = slots[pc->other];
      const SlotValue &value = slots[pc->target];
      if (count <= 5 || elements.tag != kBoxed || index.tag != kInt || value.tag != kInt ||
          !mayStore(ArrayOf(elements.boxed), index.number))
         goto *kCode[pc->base];
      count -= 5;
      storeNumber(ArrayOf(elements.boxed), index.number, value.number);
      pc += 5;
      DISPATCH();
   }
   op_ElementCompareJump:
   {
      int32_t number;
      bool comparison;
      const SlotValue &elements = slots[pc->slot];
      const SlotValue &index = slots[pc->other];
      if (count <= 6 || elements.tag != kBoxed || index.tag != kInt)
         goto *kCode[pc->base];
      const ORVA_Value *element = elementAt(ArrayOf(elements.boxed), index.number);
      if (!IsPlainInt32(element) ||
          !ComputeInt32(pc->opcode, element->getValueAsInt32(), pc->number, &number, &comparison))
         goto *kCode[pc->base];
      count -= 6;
      pc = ((number == 0) == pc->jumpIfZero) ? ops + pc->target : pc + 6;
      DISPATCH();
   }
   op_ConcatSetPop:
   {
      // `s = s . x` (and `s .= x`): the variable's value goes first, so that the copy of
      // it on the data stack is its text's only holder and takes the appended text in
      // place instead of copying the whole. No checkpoint falls among the three steps and
      // nothing else runs between, so nothing can tell. The text limit and any operand
      // concatenation refuses are left to the instructions one at a time.
      SlotValue &variable = slots[pc->slot];
      const bool rightValue = valueOf(sp[-1]);
      if (count <= 3 || sp[-2].tag != kValue || (sp[-1].tag != kInt && !rightValue) ||
          variable.tag == kBoxed || program->m_limits.maxTextLength != 0)
         goto *kCode[pc->base];
      count -= 3;
      MARK_TOP();
      if (variable.tag == kValue)
      {
         variable.tag = kNull;
         delete variable.owned;
      }
      {
         // Scoped: the threaded jumps may not leave a value's lifetime.
         ORVA_Value number(sp[-1].number);
         program->concatenateOperands(sp[-2].owned, rightValue ? sp[-1].owned : &number);
      }
      if (variable.tag == kUnset)
         variable.order = ++frame->created;
      variable.owned = sp[-2].owned;
      variable.tag = kValue;
      frame->holdsOwned = true;
      sp[-2].tag = kUnset;
      release(sp[-1]);
      sp -= 2;
      pc += 3;
      DISPATCH();
   }
#undef STEP
#undef DISPATCH

handOver:
   leave(depth, static_cast<uint32_t>(pc - ops), count, sp);
   *countdown = count;
   *next = program->m_currentPosition;
   return SlotCall::kDone;
}

SlotCall ORVA_SlotRunner::call(ORVA_Program *program, uint32_t address, uint32_t ownCodeSize, int argc,
                               uint32_t binds, uint32_t *countdown, uint32_t *next, bool entry)
{
   ORVA_SlotRunnerStatePtr &state = program->m_runCache->slotRunner();
   if (state == nullptr)
      state.reset(new ORVA_SlotRunnerState());
   ORVA_SlotRunner runner(program, state.get(), ownCodeSize);
   runner.m_entry = entry;
   SlotFunction *function = runner.compiled(address);
   if (!runner.enterable(function) || function->binds != binds)
      return SlotCall::kNotTaken;
   return runner.run(function, argc, countdown, next);
}

SlotCall RunSlotCall(ORVA_Program *program, uint32_t address, uint32_t ownCodeSize, int argc, uint32_t binds,
                     uint32_t *countdown, uint32_t *next)
{
   return ORVA_SlotRunner::call(program, address, ownCodeSize, argc, binds, countdown, next, false);
}

SlotCall RunSlotEntry(ORVA_Program *program, uint32_t address, uint32_t ownCodeSize, int argc, uint32_t binds,
                      uint32_t *countdown, uint32_t *next)
{
   return ORVA_SlotRunner::call(program, address, ownCodeSize, argc, binds, countdown, next, true);
}
