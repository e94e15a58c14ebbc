// The execution engine: ORVA_Program::run, the instruction loop, script function calls,
// variable lookup and runtime errors. Operators are dispatched in dispatch.cpp.
//
// Stacks during a run. The data stack holds ORVA_Value pointers that the engine owns while
// they are on it. The control stack holds one frame of four slots per script function
// call in progress, pushed in this order:
//
//     [.. return address, data-stack base, caller's local set, caller's lookup epoch]
//
// The data-stack base is the depth of the data stack once the callee's arguments were
// taken. A return discards whatever the callee left above that depth below its result (a
// switch value or an iterator when the return happens inside a switch or foreach), so the
// caller sees exactly one new value. The current local set is m_locals; the caller's set
// comes back from the frame on return.
//
// A run ends normally when the current position reaches or passes the code size, and
// after a runtime error, which sets the position to ORVA_INVALID_ADDRESS. The run state
// that is not a field of ORVA_Program lives in a RunState on run's stack frame, reached
// through m_runState while the run lasts.
//
// Limits and interruption. The instruction loop counts down one number per instruction;
// when it reaches zero the loop stops at a checkpoint, which looks at the interrupt flag
// and hands out the next slice of the step budget. So the flag is read once every few
// thousand instructions and the step limit costs nothing more. The text and array limits
// are checked where texts grow (CONCAT, function results) and where arrays grow (ESET).
// Running out of memory throws std::bad_alloc out of `new`; run catches it, raises "Out
// of memory" and cleans up as after any other error.
//
// The lookup cache. Finding a variable means searching the constant, global and local
// sets in that order, first match in creation order. An instruction with a name operand
// remembers where the search ended last: which set, the position in it, the run, and the
// sizes of the constant and global sets at that moment. The entry is trusted only within
// the same run (the run's constant and global sets stay the same objects for the whole
// run) and only while the sets searched before the remembered one have not grown: sets
// only ever grow at the end and names never change, so a name that was not in the first
// n variables of a set is still not there, and a variable found at position i is still
// the first of its name. The local set changes with every call: a local position is
// trusted while the set has the serial it had then (the same set, no position given to
// another name since), else confirmed by firstAt (the name is there and no older variable
// has it), which takes on the set's serial; a failure falls back to the full search,
// which refreshes the entry. An entry from an earlier run is not thrown away: the sets
// searched before the remembered one must lack the name for certain (their name bits),
// and the position must be confirmed, by the local set's serial when it is the set the
// position was found in (a handler's runs take up one recycled set, see carriedOver),
// else by firstAt; runs that take the same path lay out their variables alike, so most
// first lookups of a run skip the search. While a run has no constant or global variable,
// a local's position is even trusted without a call (see carried): the program's carry
// stamp, which names the code as it is and is dropped when a global appears, stands for
// the checks on the other sets. In front of all that, an instruction keeps the variable it
// found and trusts it while the program's lookup epoch stays the same: a run and every
// call start with a new epoch, and a global variable being made gives a new one that also
// ends the validity of all older ones. A return brings back the caller's epoch while it is
// still valid (the caller's set cannot change during the call; sets only grow), so code
// reaches its variables with one comparison, also after the calls it makes.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <orva.h>

#include "env/builtins.h"
#include "platform/platform.h"
#include "vm/engine.h"
#include "vm/errors.h"
#include "vm/argument_use.h"
#include "vm/decoded_statement.h"
#include "vm/run_cache.h"
#include "vm/slot_runner.h"
#include "values/name_bits.h"
#include "values/name_hash.h"
#include "vm/frame_slots.h"
#include "vm/instruction_cache.h"

// Longest name of a named-argument variable, "$" included (the rest is cut off).
constexpr size_t kNamedArgumentSize = 256;

// Instructions between two checkpoints: rare enough to cost nothing measurable, often
// enough that an interrupt stops a run within a fraction of a millisecond.
constexpr uint32_t kCheckpointInterval = 4096;

// Most parameters a call binds itself (see ORVA_Engine::enterFunction); more leave it to
// the BIND instructions. Eight keeps the callee's set below its hash index.
constexpr uint32_t kMaxFusedBinds = 8;

// Times an int32 statement may give up before it is left to the instructions for the
// rest of the run (when it also gave up more often than it ran).
constexpr uint32_t kStatementTrials = 16;

// What ORVA_Engine::carried does when the run has not made the variable yet: nothing, make
// it holding null, or make it holding no value for its caller to give it one.
enum : int
{
   kFindOnly,
   kMakeNull,
   kMakeEmpty
};

// Marks a call plan (see ORVA_Engine::callPlan) whose function cannot see "$1".."$n".
constexpr uint32_t kArgumentsUnseen = 0x100;

// ORVA_VariableSystem's "no duplicate name" position.
constexpr uint32_t kNoDuplicate = 0xFFFFFFFF;

namespace
{

// Which set an instruction's lookup cache points into (0: the entry is empty).
enum : uint8_t
{
   kCachedConstant = 1,
   kCachedGlobal = 2,
   kCachedLocal = 3
};

// Local sets of returned calls kept for the next calls of the run (see ORVA_Engine).
constexpr uint32_t kSpareLocalSets = 64;

// What an instruction's decoded statement (instruction_cache.h) holds once decoding found
// no int32 statement starting there.
const DecodedStatement kNoStatement{};

struct RunState
{
   bool failed = false;
   // The int32 statements decoded in this run (see decoded_statement.h), and room for the
   // next one.
   std::vector<std::unique_ptr<DecodedStatement>> statements;
   std::unique_ptr<DecodedStatement> spareStatement;
   // The append under way (see ORVA_Engine::startAppend): the CONCAT that finishes it,
   // the variable whose text grows, and the value standing in for the copy of the text.
   uint32_t appendAt = ORVA_INVALID_ADDRESS;
   ORVA_Variable *appendVariable = nullptr;
   ORVA_Value *appendStandIn = nullptr;
   // The addresses whose decoded statement this run set; forgotten again when it ends.
   std::vector<uint32_t> decodedAddresses;
   // Instructions of the program's own code (what follows is linked modules).
   uint32_t ownCodeSize = 0;
   // Instructions the step limit still allows beyond the slice being executed.
   uint64_t stepsLeft = 0;
   // The instruction loop's count of instructions left in its slice (see execute), which
   // chargeSteps draws on for work done inside an instruction.
   uint32_t *countdown = nullptr;
   // Only the first spareLocalCount are set: a run that makes no call touches none.
   ORVA_VariableSystem *spareLocals[kSpareLocalSets];
   uint32_t spareLocalCount = 0;

   RunState() = default;
   RunState(const RunState &) = delete;
   RunState &operator=(const RunState &) = delete;
   ~RunState()
   {
      while (spareLocalCount > 0)
         delete spareLocals[--spareLocalCount];
   }
};

inline ORVA_Value *popValue(ORVA_Stack *stack)
{
   return static_cast<ORVA_Value *>(stack->pop());
}

inline ORVA_Value *peekValue(ORVA_Stack *stack)
{
   return static_cast<ORVA_Value *>(stack->peek());
}

inline void *addressToSlot(uintptr_t address)
{
   return reinterpret_cast<void *>(address);
}

inline uintptr_t slotToAddress(void *slot)
{
   return reinterpret_cast<uintptr_t>(slot);
}

// The value SET and ESET store: arrays are copied element by element, anything else is a
// plain copy (which shares objects and iterators).
ORVA_Value *assignedCopy(const ORVA_Value *value)
{
   if (value->isArray())
   {
      std::unique_ptr<ORVA_Array> copy(new ORVA_Array(value->getValueAsArray()));
      auto *copied = new ORVA_Value(copy.get());
      copy.release();
      return copied;
   }
   return new ORVA_Value(value);
}

// The value of a variable; a host may have left a variable without one, which then
// reads as null from here on.
ORVA_Value *valueOf(ORVA_Variable *variable)
{
   if (variable->getValue() == nullptr)
      variable->setValue(new ORVA_Value());
   return variable->getValue();
}

// The argument values a host handed to a run, taken one by one as the run gives them to
// variables; those no variable took (the run could not start, or the entry function has
// fewer parameters) are released.
class HostArguments
{
public:
   HostArguments(ORVA_Value **argv, uint32_t argc) : m_argv(argv), m_argc(argv != nullptr ? argc : 0) {}
   ~HostArguments() { releaseRest(); }
   HostArguments(const HostArguments &) = delete;
   HostArguments &operator=(const HostArguments &) = delete;

   uint32_t count() const { return m_argc; }
   uint32_t taken() const { return m_taken; }
   bool left() const { return m_taken < m_argc; }
   // The next value; from now on the caller's (the host's array is left as it is).
   ORVA_Value *take() { return m_argv[m_taken++]; }
   // Another owner takes every value over, and may give them back untouched.
   void giveUp() { m_taken = m_argc; }
   void takeBack() { m_taken = 0; }
   void releaseRest()
   {
      while (left())
         delete take();
   }

   ORVA_Value **m_argv;

private:
   uint32_t m_argc;
   uint32_t m_taken = 0;
};

}  // namespace

// Engine steps that touch the program's private state but are not part of its interface.
class ORVA_Engine
{
public:
   // ORVA_Stack::push, which GCC leaves out of line in the instruction loop: a call per
   // value pushed.
   __attribute__((always_inline)) static void pushValue(ORVA_Stack *stack, ORVA_Value *value)
   {
      if (stack->m_size == stack->m_capacity)
         stack->grow();
      stack->m_slots[stack->m_size++] = value;
   }

   // Leaves the current script function: restores the caller's local set, keeps only the
   // returned value above the caller's part of the data stack, and returns the address to
   // continue at.
   static uint32_t returnFromCall(ORVA_Program *program)
   {
      ORVA_Stack *control = program->m_controlStack;
      program->m_callDepth--;
      const auto callerEpoch = static_cast<uint64_t>(slotToAddress(control->pop()));
      auto *callerLocals = static_cast<ORVA_VariableSystem *>(control->pop());
      auto base = static_cast<int>(slotToAddress(control->pop()));
      auto returnAddress = static_cast<uint32_t>(slotToAddress(control->pop()));

      ORVA_Stack *data = program->m_dataStack;
      if (data->getSize() > base + 1)
      {
         ORVA_Value *returned = popValue(data);
         while (data->getSize() > base)
            delete popValue(data);
         data->push(returned);
      }

      releaseLocals(program, program->m_locals);
      program->m_locals = callerLocals;
      resumeEpoch(program, callerEpoch);
      return returnAddress;
   }

   // A local set for a call: a recycled one when the run has one, else a new one. Calls
   // of one function create the same variables in the same order, so a recycled set
   // mostly hands back its spare variables, names included, without allocating.
   static ORVA_VariableSystem *takeLocals(ORVA_Program *program)
   {
      auto *state = static_cast<RunState *>(program->m_runState);
      if (state != nullptr && state->spareLocalCount > 0)
         return state->spareLocals[--state->spareLocalCount];
      return new ORVA_VariableSystem(false);
   }

   // Gives up a returned call's local set: its values are released now, the set is kept
   // for a later call while there is room.
   static void releaseLocals(ORVA_Program *program, ORVA_VariableSystem *locals)
   {
      auto *state = static_cast<RunState *>(program->m_runState);
      if (state == nullptr || state->spareLocalCount == kSpareLocalSets)
      {
         delete locals;
         return;
      }
      locals->recycle();
      state->spareLocals[state->spareLocalCount++] = locals;
   }

   // How a call through `call` may enter the function at `address` (see enterFunction):
   // the number of BIND instructions that open it and that the call may bind itself (at
   // most kMaxFusedBinds, all of distinct names; else 0), plus kArgumentsUnseen when
   // nothing in the function can see "$1".."$n". Remembered on the call instruction for
   // the run.
   static uint32_t callPlan(const ORVA_Program *program, const ORVA_Instruction *call, uint32_t address)
   {
      ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, call);
      if (cache.run == program->m_runNumber && cache.globals == address)
         return cache.index;
      const uint32_t plan = planAt(program, address);
      cache.run = program->m_runNumber;
      cache.globals = address;
      cache.index = plan;
      return plan;
   }

   // callPlan for the function at `address`, worked out afresh.
   static uint32_t planAt(const ORVA_Program *program, uint32_t address)
   {
      ORVA_Instruction *const *code = program->m_instructions;
      uint32_t binds = 0;
      while (binds <= kMaxFusedBinds && address + binds < program->m_codeSize && code[address + binds]->m_opcode == BIND)
      {
         const wchar_t *name = code[address + binds]->m_operand.name;
         if (name == nullptr || binds == kMaxFusedBinds || isBoundBefore(code + address, binds, name))
         {
            binds = 0;
            break;
         }
         binds++;
      }
      uint32_t plan = binds;
      if (!MaySeeArgumentVariables(code, program->m_codeSize, address + binds))
         plan |= kArgumentsUnseen;
      return plan;
   }

   // Calls the script function at `address` for the instruction `call` with `argc`
   // arguments and returns where to continue, or ORVA_INVALID_ADDRESS after an error.
   // When the function opens with BIND instructions (and no argument carries a name), the
   // call binds the parameters itself: the local set ends up exactly as callFunction and
   // the BINDs would leave it ("$argc".."$1", then the parameters), the BINDs count as
   // run, and a set that was laid out for this same call before only gets its values.
   // When the function cannot see "$1".."$n" at all, the parameters take the arguments
   // and those variables are not made (handOver).
   static uint32_t enterFunction(ORVA_Program *program, const ORVA_Instruction *call, int argc, uint32_t address,
                                 uint32_t *countdown)
   {
      const uint32_t plan = callPlan(program, call, address);
      const uint32_t binds = plan & ~kArgumentsUnseen;
      ORVA_Stack *data = program->m_dataStack;
      if (plan == 0 || *countdown <= binds || argc < 0 || data->getSize() < argc ||
          program->m_callDepth >= kMaxCallDepth || hasNamedArgument(data, argc))
      {
         program->callFunction(argc);
         return (program->m_currentPosition == ORVA_INVALID_ADDRESS) ? ORVA_INVALID_ADDRESS : address;
      }
      uint32_t next = 0;
      switch (RunSlotCall(program, address, static_cast<RunState *>(program->m_runState)->ownCodeSize, argc, binds,
                          countdown, &next))
      {
         case SlotCall::kDone:
            return next;
         case SlotCall::kFailed:
            return ORVA_INVALID_ADDRESS;
         case SlotCall::kNotTaken:
            break;
      }
      ORVA_VariableSystem *locals = takeLocals(program);
      pushFrame(program, data->getSize() - argc, locals);

      ORVA_Instruction *const *parameters = program->m_instructions + address;
      const auto count = static_cast<uint32_t>(argc);
      const bool laidOut = locals->m_layout == parameters && locals->m_layoutArgc == argc;
      if ((plan & kArgumentsUnseen) != 0)
         handOver(locals, data, count, parameters, binds, laidOut);
      else if (laidOut)
         fillLayout(locals, data, count, binds);
      else
         layOut(locals, data, count, parameters, binds);
      takeUpEpoch(program, locals, laidOut);
      program->m_bindCounter = static_cast<int32_t>(binds + 1);
      *countdown -= binds;
      return address + binds;
   }

   // The entry function's parameters at the start of a run: when the function opens with
   // BIND instructions and cannot see "$1".."$n" (see callPlan), the parameters take the
   // host's argument values themselves, in the run's own empty local set; no "$k"
   // variable is made, and arguments past the parameters go. The BINDs count as run. Only where that cannot be told apart from
   // running them: the step budget covers them, and no interrupt is due before the first.
   // Returns the number of BINDs done (0: none, the arguments become "$1".."$n").
   static uint32_t bindEntryParameters(ORVA_Program *program, uint32_t entry, uint32_t ownCodeSize,
                                       HostArguments *arguments)
   {
      const uint32_t binds = entryBinds(program, entry, ownCodeSize);
      if (binds == 0)
         return 0;
      ORVA_Instruction *const *parameters = program->m_instructions + entry;
      ORVA_VariableSystem *locals = program->m_locals;
      for (uint32_t position = 1; position <= binds; position++)
      {
         ORVA_Value *value = (position <= arguments->count()) ? arguments->take() : new ORVA_Value();
         const wchar_t *name = parameters[position - 1]->m_operand.name;
         // The parameters before have other names: a spare of this name is taken up as it is.
         if (locals->m_count < locals->m_held && SameName(locals->m_variables[locals->m_count]->getName(), name))
            locals->takeUpSpare(value);
         else
            locals->create(name, value);
      }
      arguments->releaseRest();
      chargeEntryBinds(program, binds);
      return binds;
   }

   // How many parameters the entry function's own BINDs bind from the host's arguments
   // (its first BINDs, when nothing in it can see "$1".."$n"); 0 when they cannot: the
   // entry is module code, the host gave its own local set, the run is to stop at once, or
   // the step budget ends among the BINDs.
   static uint32_t entryBinds(ORVA_Program *program, uint32_t entry, uint32_t ownCodeSize)
   {
      if (entry >= ownCodeSize || program->m_locals->getCount() != 0 || program->isInterruptRequested())
         return 0;
      const uint32_t plan = entryPlan(program, entry, ownCodeSize);
      const uint32_t binds = plan & ~kArgumentsUnseen;
      const auto *state = static_cast<RunState *>(program->m_runState);
      const bool limited = program->m_limits.maxSteps != 0;
      if ((plan & kArgumentsUnseen) == 0 || (limited && state->stepsLeft < binds))
         return 0;
      return binds;
   }

   // The entry function's BINDs count as run (a negative count gives them back); a run
   // with a step limit is charged for them at once.
   static void chargeEntryBinds(ORVA_Program *program, int64_t binds)
   {
      if (program->m_limits.maxSteps != 0)
         static_cast<RunState *>(program->m_runState)->stepsLeft -= static_cast<uint64_t>(binds);
   }

   // Starts the run with its entry function in the slot runner, when it takes it: the
   // parameters the function binds itself take the host's arguments (the rest go) and
   // count as run, as bindEntryParameters has it; then the instruction loop goes on where
   // the runner leaves. False, with nothing changed, when the runner does not take it.
   static bool runEntry(ORVA_Program *program, uint32_t entry, uint32_t ownCodeSize, HostArguments *arguments)
   {
      const uint32_t binds = entryBinds(program, entry, ownCodeSize);
      if (binds == 0 || arguments->count() > binds)
         return false;
      // The data stack takes the arguments over, as for a call.
      ORVA_Stack *data = program->m_dataStack;
      const auto argc = static_cast<int>(arguments->count());
      int pushed = 0;
      try
      {
         for (; pushed < argc; pushed++)
            pushValue(data, arguments->m_argv[pushed]);
      }
      catch (...)
      {
         for (; pushed > 0; pushed--)
            data->pop();
         throw;
      }
      arguments->giveUp();
      program->m_currentPosition = entry;
      newEpoch(program);
      // The parameters count as run, and the first checkpoint comes before the first
      // instruction after them.
      chargeEntryBinds(program, binds);
      uint32_t countdown = binds + 1;
      uint32_t next = 0;
      const SlotCall outcome = RunSlotEntry(program, entry, ownCodeSize, argc, binds, &countdown, &next);
      if (outcome == SlotCall::kNotTaken)
      {
         chargeEntryBinds(program, -int64_t{binds});
         for (int i = 0; i < argc; i++)
            data->pop();
         arguments->takeBack();
         return false;
      }
      if (outcome == SlotCall::kFailed)
         return true;
      // The runner leaves the entry function's return to the loop, which ends the run at
      // it: counted as a step, with no checkpoint unless the step falls on one.
      if (countdown > 1 && program->m_callDepth == 0 && next < program->m_codeSize &&
          program->m_instructions[next]->m_opcode == RET)
      {
         program->m_currentPosition = program->m_codeSize;
         return true;
      }
      program->m_currentPosition = next;
      program->execute(countdown);
      return true;
   }

   // The built-in or host function a CALL_NAME of the current position reaches, or null.
   // What the calls of the program's own code reach is kept in the run cache (module code
   // is linked anew for each run).
   static const ORVA_ExtFunction *hostFunction(ORVA_Program *program, const ORVA_Instruction *call)
   {
      const ORVA_Environment &environment = *program->m_environment;
      const wchar_t *name = call->m_operand.name;
      if (program->m_currentPosition >= static_cast<RunState *>(program->m_runState)->ownCodeSize)
         return environment.findFunction(name);
      return program->m_runCache->callTargets().find(environment, call->m_address, name);
   }

   // callPlan for the entry function, kept from run to run in the run cache.
   static uint32_t entryPlan(ORVA_Program *program, uint32_t entry, uint32_t ownCodeSize)
   {
      uint32_t plan = 0;
      if (program->m_runCache->findEntryPlan(entry, ownCodeSize, &plan))
         return plan;
      plan = planAt(program, entry);
      program->m_runCache->keepEntryPlan(entry, ownCodeSize, plan);
      return plan;
   }

   // The lookup epoch for a call whose set was just filled. A set filled again for the
   // call it was laid out for holds the same variables at the same positions as in its
   // last call; when that call made no other variable in it (nothing beyond the layout is
   // held) and no global appeared since, every variable an instruction found then is still
   // the one a search would find, so the call takes up that call's epoch.
   static void takeUpEpoch(ORVA_Program *program, ORVA_VariableSystem *locals, bool laidOut)
   {
      if (laidOut && locals->m_held == locals->m_count)
         resumeEpoch(program, locals->m_keptEpoch);
      else
         newEpoch(program);
      locals->m_keptEpoch = program->m_lookupEpoch;
   }

   static bool isBoundBefore(ORVA_Instruction *const *parameters, uint32_t count, const wchar_t *name)
   {
      for (uint32_t i = 0; i < count; i++)
      {
         if (wcscmp(parameters[i]->m_operand.name, name) == 0)
            return true;
      }
      return false;
   }

   static bool hasNamedArgument(ORVA_Stack *data, int argc)
   {
      void *const *arguments = data->peekList(argc);
      for (int i = 0; i < argc; i++)
      {
         if (static_cast<const ORVA_Value *>(arguments[i])->getName() != nullptr)
            return true;
      }
      return false;
   }

   // The value BIND gives parameter `position` (from 1): a copy of "$position", or null.
   static ORVA_Value *parameterValue(ORVA_VariableSystem *locals, uint32_t argc, uint32_t position)
   {
      if (position > argc)
         return new ORVA_Value();
      return new ORVA_Value(locals->m_variables[argc - position]->getValue());
   }

   // enterFunction on a set that was not laid out for this call: the variables are made
   // one by one as callFunction and BIND make them, and the layout is remembered when the
   // set stayed small and free of duplicate names.
   static void layOut(ORVA_VariableSystem *locals, ORVA_Stack *data, uint32_t argc,
                      ORVA_Instruction *const *parameters, uint32_t binds)
   {
      for (uint32_t n = argc; n >= 1; n--)
      {
         wchar_t name[kDollarNameSize];
         FormatDollarName(name, n);
         locals->create(name, popValue(data));
      }
      for (uint32_t position = 1; position <= binds; position++)
         locals->create(parameters[position - 1]->m_operand.name, parameterValue(locals, argc, position));
      rememberLayout(locals, parameters, argc);
   }

   // enterFunction for a function that cannot see its argument variables: the parameters
   // take the arguments themselves (a copy would be indistinguishable), no "$k" variable
   // is made, and arguments past the parameters are dropped. A set laid out for this call
   // before (`laidOut`) only gets the values.
   static void handOver(ORVA_VariableSystem *locals, ORVA_Stack *data, uint32_t argc,
                        ORVA_Instruction *const *parameters, uint32_t binds, bool laidOut)
   {
      if (laidOut)
      {
         handOverToLayout(locals, data, argc, binds);
         return;
      }
      void **arguments = data->peekList(static_cast<int>(argc));
      for (uint32_t position = 1; position <= binds; position++)
      {
         ORVA_Value *value = nullptr;
         if (position <= argc)
         {
            // Off the stack before the set owns it, so that nothing frees it twice.
            value = static_cast<ORVA_Value *>(arguments[position - 1]);
            arguments[position - 1] = nullptr;
         }
         else
         {
            value = new ORVA_Value();
         }
         locals->create(parameters[position - 1]->m_operand.name, value);
      }
      for (uint32_t n = 0; n < argc; n++)
         delete popValue(data);
      rememberLayout(locals, parameters, argc);
   }

   // handOver into a recycled set laid out for this call: its spares carry the parameters'
   // names in order and hold no value, so each takes its argument straight off the stack.
   static void handOverToLayout(ORVA_VariableSystem *locals, ORVA_Stack *data, uint32_t argc, uint32_t binds)
   {
      void **arguments = data->peekList(static_cast<int>(argc));
      ORVA_Variable *const *variables = locals->m_variables;
      const uint32_t taken = (argc < binds) ? argc : binds;
      for (uint32_t i = 0; i < taken; i++)
      {
         ORVA_Variable *parameter = variables[i];
         delete parameter->m_value;
         parameter->m_value = static_cast<ORVA_Value *>(arguments[i]);
         // Off the stack once the set owns it, so that nothing frees it twice.
         arguments[i] = nullptr;
      }
      // The set releases what it holds should a null for a missing argument fail.
      locals->m_count = taken;
      for (uint32_t position = taken; position < binds; position++)
      {
         variables[position]->setValue(new ORVA_Value());
         locals->m_count++;
      }
      for (uint32_t n = 0; n < argc; n++)
         delete popValue(data);
      locals->m_nameBits = locals->m_layoutBits;
   }

   static void rememberLayout(ORVA_VariableSystem *locals, ORVA_Instruction *const *parameters, uint32_t argc)
   {
      if (locals->m_index != nullptr || locals->m_firstDuplicate != kNoDuplicate)
         return;
      ORVA_FrameSlots::layOut(locals, parameters, static_cast<int32_t>(argc), locals->m_count);
      locals->m_layoutBits = locals->m_nameBits;
   }

   // enterFunction on a recycled set laid out for this call: its spares already carry
   // the names, in order; only the values are new.
   static void fillLayout(ORVA_VariableSystem *locals, ORVA_Stack *data, uint32_t argc, uint32_t binds)
   {
      ORVA_Variable *const *variables = locals->m_variables;
      for (uint32_t n = argc; n >= 1; n--)
         variables[argc - n]->setValue(popValue(data));
      locals->m_count = argc;
      for (uint32_t position = 1; position <= binds; position++)
      {
         variables[argc + position - 1]->setValue(parameterValue(locals, argc, position));
         locals->m_count++;
      }
      locals->m_nameBits = locals->m_layoutBits;
   }

   // Lookups made from here on trust none of the variables found before.
   static void newEpoch(ORVA_Program *program)
   {
      program->m_lookupEpoch = ++program->m_epochCounter;
   }

   // Makes an earlier epoch (0: none) current again, unless a global variable appeared
   // since it was handed out; then a new one.
   static void resumeEpoch(ORVA_Program *program, uint64_t epoch)
   {
      if (epoch != 0 && epoch >= program->m_epochFloor)
         program->m_lookupEpoch = epoch;
      else
         newEpoch(program);
   }

   // Enters a script function's frame (see the top of this file): the caller's place,
   // data-stack base, local set and epoch go on the control stack, and the callee's set
   // becomes the current one. The caller then chooses the callee's epoch.
   static void pushFrame(ORVA_Program *program, int base, ORVA_VariableSystem *calleeLocals)
   {
      ORVA_Stack *control = program->m_controlStack;
      // The stack grows by whole frames, so only the first push can run out of memory;
      // the callee's set then goes back and nothing of the frame is left.
      try
      {
         control->push(addressToSlot(program->m_currentPosition + 1));
      }
      catch (...)
      {
         releaseLocals(program, calleeLocals);
         throw;
      }
      program->m_callDepth++;
      control->push(addressToSlot(static_cast<uintptr_t>(base)));
      control->push(program->m_locals);
      control->push(addressToSlot(static_cast<uintptr_t>(program->m_lookupEpoch)));
      program->m_locals = calleeLocals;
   }

   // Drops the frames of calls that never returned (after EXIT, a stop code or an error),
   // releasing their local sets, so that m_locals is again the set of the run's own code.
   static void unwindCalls(ORVA_Program *program)
   {
      ORVA_Stack *control = program->m_controlStack;
      while (program->m_callDepth > 0)
      {
         program->m_callDepth--;
         control->pop();  // caller's lookup epoch
         delete program->m_locals;
         program->m_locals = static_cast<ORVA_VariableSystem *>(control->pop());
         control->pop();  // data-stack base
         control->pop();  // return address
      }
   }

   // Called by the instruction loop every kCheckpointInterval instructions, and before the
   // first: stops the run when an interrupt was requested or the step budget is spent.
   // Returns how many instructions may run until the next checkpoint, or 0 after raising
   // an error.
   static uint32_t checkpoint(ORVA_Program *program)
   {
      int code = 0;
      const uint32_t slice = nextSlice(program, &code);
      if (slice == 0)
         program->error(code);
      return slice;
   }

   // checkpoint without raising: the next slice, or 0 with *code set to the error due.
   static uint32_t nextSlice(ORVA_Program *program, int *code)
   {
      if (program->m_interruptRequested.exchange(false, std::memory_order_relaxed) ||
          program->m_interruptSerial.load(std::memory_order_relaxed) == program->m_runSerial.load(std::memory_order_relaxed))
      {
         *code = ORVA_ERR_INTERRUPTED;
         return 0;
      }
      if (program->m_limits.maxSteps == 0)
         return kCheckpointInterval;
      auto *state = static_cast<RunState *>(program->m_runState);
      if (state->stepsLeft == 0)
      {
         *code = ORVA_ERR_STEP_LIMIT;
         return 0;
      }
      const uint32_t slice = (state->stepsLeft < kCheckpointInterval) ? static_cast<uint32_t>(state->stepsLeft)
                                                                      : kCheckpointInterval;
      state->stepsLeft -= slice;
      return slice;
   }

   // A frame for the instruction loop, as a call from the current position would open
   // it: a local set of its own, the caller's place on the control stack, a new epoch.
   static ORVA_VariableSystem *openFrame(ORVA_Program *program)
   {
      ORVA_VariableSystem *locals = takeLocals(program);
      pushFrame(program, program->m_dataStack->getSize(), locals);
      newEpoch(program);
      return locals;
   }

   // Charges `steps` steps of work done inside the current instruction (the characters a
   // regular-expression match reads) as if that many instructions had run: first from the
   // slice, then from the budget beyond it. Returns 0, or the error code that is due (an
   // interrupt request, the step limit), which the caller raises when it can.
   static int chargeSteps(ORVA_Program *program, uint64_t steps)
   {
      if (program->m_interruptRequested.exchange(false, std::memory_order_relaxed))
         return ORVA_ERR_INTERRUPTED;
      auto *state = static_cast<RunState *>(program->m_runState);
      if (program->m_limits.maxSteps == 0 || state == nullptr || state->countdown == nullptr)
         return 0;
      uint32_t *countdown = state->countdown;
      // The instruction being executed has its step already; the rest of the slice is free.
      const uint64_t inSlice = *countdown - 1;
      if (steps <= inSlice)
      {
         *countdown -= static_cast<uint32_t>(steps);
         return 0;
      }
      steps -= inSlice;
      *countdown = 1;
      if (state->stepsLeft < steps)
      {
         state->stepsLeft = 0;
         return ORVA_ERR_STEP_LIMIT;
      }
      state->stepsLeft -= steps;
      return 0;
   }

   // Steps 3 to 11 of a run: attach what the host handed over, load the modules and run
   // the entry function. May throw std::bad_alloc; run cleans up whatever was set up.
   static void startAndExecute(ORVA_Program *program, ORVA_Environment *environment, uint32_t argc,
                               ORVA_Value **argv, ORVA_VariableSystem *localSet, ORVA_VariableSystem *constantSet,
                               const wchar_t *entryPoint);

   // The text and array limits for a value a function handed back: 0 when it is within
   // them, else the error code to raise.
   static int checkCreatedValue(const ORVA_Program *program, ORVA_Value *value)
   {
      const ORVA_RunLimits &limits = program->m_limits;
      if (value == nullptr)
         return 0;
      if (limits.maxTextLength != 0 && value->getDataType() == ORVA_DT_STRING)
      {
         uint32_t length = 0;
         value->getValueAsString(&length);
         if (length > limits.maxTextLength)
            return ORVA_ERR_TEXT_LIMIT;
      }
      if (limits.maxArrayElements != 0 && value->isArray() &&
          static_cast<uint32_t>(value->getValueAsArray()->size()) > limits.maxArrayElements)
         return ORVA_ERR_ARRAY_LIMIT;
      return 0;
   }

   // Runs the decoded statement starting at the current instruction (see runStatement),
   // noting the run the instruction first ran in and decoding it when it runs again in that
   // run. The note is the run's number, so a handler whose statements each run once keeps
   // no list of them and has nothing to forget at its end.
   __attribute__((always_inline)) static bool tryStatement(ORVA_Program *program, const ORVA_Instruction *instruction,
                                                          uint32_t *countdown, uint32_t *next)
   {
      ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      const auto *statement = static_cast<const DecodedStatement *>(cache.decoded);
      if (statement == &kNoStatement)
         return false;
      if (statement == nullptr)
      {
         if (cache.seenInRun != program->m_runNumber)
         {
            cache.seenInRun = program->m_runNumber;
            return false;
         }
         statement = decode(program, instruction, program->m_currentPosition);
      }
      return statement != &kNoStatement &&
             runStatement(program, instruction, statement, program->m_currentPosition, countdown, next);
   }

   // Forgets what the run decoded, before another instruction may come to stand at an
   // address it reached (the modules of the next run).
   static void forgetDecoded(ORVA_Program *program)
   {
      auto *state = static_cast<RunState *>(program->m_runState);
      for (uint32_t address : state->decodedAddresses)
         program->m_instructionCaches[address].decoded = nullptr;
      state->decodedAddresses.clear();
   }

   // The int32 statement starting at `position` (the instruction there runs for the
   // second time in this run), or kNoStatement; either is forgotten when the run ends.
   __attribute__((noinline)) static const DecodedStatement *decode(ORVA_Program *program, const ORVA_Instruction *instruction, uint32_t position)
   {
      auto *state = static_cast<RunState *>(program->m_runState);
      state->decodedAddresses.push_back(instruction->m_address);
      if (state->spareStatement == nullptr)
         state->spareStatement.reset(new DecodedStatement());
      const DecodedStatement *decoded = &kNoStatement;
      ORVA_Instruction *const *code = program->m_instructions;
      DecodedStatement *statement = state->spareStatement.get();
      if (DecodeStatement(code, program->m_codeSize, position, statement) ||
          DecodeAppend(code, program->m_codeSize, position, statement))
      {
         // The slot is made first, so that running out of memory loses nothing.
         state->statements.emplace_back();
         decoded = state->spareStatement.get();
         state->statements.back() = std::move(state->spareStatement);
      }
      ORVA_InstructionCache::of(program, instruction).decoded = decoded;
      return decoded;
   }

   // Runs the int32 statement decoded at `instruction` (at `position`) in one step: true
   // with *next set, or false when an operand is not an int32 or an operation needs the
   // general path, and then nothing was done but looking up (and creating) variables the
   // instructions look up anyway. All its instructions count as run, so it needs that
   // many in the slice. A statement that gives up more often than not is not tried again
   // in this run.
   __attribute__((noinline)) static bool runStatement(ORVA_Program *program, const ORVA_Instruction *instruction,
                                                      const DecodedStatement *statement, uint32_t position,
                                                      uint32_t *countdown, uint32_t *next)
   {
      if (statement->end == DecodedStatement::kAppend)
         return startAppend(program, instruction, statement, position, next);
      const uint32_t extra = statement->length - 1;
      if (*countdown <= extra)
         return false;
      if (!completeStatement(program, statement, position, next))
         return gaveUp(program, instruction, statement);
      statement->runs++;
      *countdown -= extra;
      return true;
   }

   // Counts a statement that had to give up; one that gives up more often than not is left
   // to the instructions for the rest of the run. Always false.
   static bool gaveUp(const ORVA_Program *program, const ORVA_Instruction *instruction, const DecodedStatement *statement)
   {
      if (++statement->misses > kStatementTrials && statement->misses > statement->runs)
         ORVA_InstructionCache::of(program, instruction).decoded = &kNoStatement;
      return false;
   }

   // The PUSH of an append (see decoded_statement.h) whose text can grow in place: pushes
   // a stand-in for the copy of the text, which finishAppend drops at the CONCAT. False
   // (nothing done but the lookup the PUSH makes anyway) when the variable holds neither a
   // text nor a number (which joins as its text) or cannot be assigned.
   static bool startAppend(ORVA_Program *program, const ORVA_Instruction *instruction,
                           const DecodedStatement *statement, uint32_t position, uint32_t *next)
   {
      auto *state = static_cast<RunState *>(program->m_runState);
      ORVA_Variable *variable = lookupOrCreate(program, instruction);
      const ORVA_Value *value = variable->getValue();
      if (value == nullptr || !value->isString() || variable->isConstant() ||
          state->appendAt != ORVA_INVALID_ADDRESS)
         return gaveUp(program, instruction, statement);
      statement->runs++;
      auto *standIn = new ORVA_Value();
      program->m_dataStack->push(standIn);
      state->appendAt = position + statement->length;
      state->appendVariable = variable;
      state->appendStandIn = standIn;
      *next = position + 1;
      return true;
   }

   enum class Append
   {
      kNotDone,
      kDone,
      kFailed
   };

   // Counts `steps` more instructions as run after the current one, also across the end
   // of the slice when the checkpoint there would let the run go on (no interrupt
   // request, room in the step budget); then the next instruction starts with a
   // checkpoint. False, with nothing counted, when that checkpoint would stop the run.
   static bool takeSteps(ORVA_Program *program, uint32_t *countdown, uint32_t steps)
   {
      if (*countdown > steps)
      {
         *countdown -= steps;
         return true;
      }
      if (program->m_interruptRequested.load(std::memory_order_relaxed))
         return false;
      if (program->m_limits.maxSteps != 0)
      {
         auto *state = static_cast<RunState *>(program->m_runState);
         const uint64_t beyondSlice = steps - (*countdown - 1);
         if (state->stepsLeft < beyondSlice)
            return false;
         state->stepsLeft -= beyondSlice;
      }
      *countdown = 1;
      return true;
   }

   // At the CONCAT of an append started by startAppend: appends the text on top of the
   // stack to the variable's own text and counts the SET and POP as run (kDone), or raises
   // the error CONCAT raises (kFailed). When the CONCAT must run as it is (a null operand,
   // a checkpoint due before the SET and POP that would stop the run), the stand-in becomes
   // the copy of the text the PUSH would have made: the instructions in between cannot
   // have changed it.
   static Append finishAppend(ORVA_Program *program, uint32_t *countdown, uint32_t *next)
   {
      auto *state = static_cast<RunState *>(program->m_runState);
      state->appendAt = ORVA_INVALID_ADDRESS;
      ORVA_Stack *data = program->m_dataStack;
      // The instructions between the PUSH and the CONCAT only take what they push, so the
      // stand-in is below the right operand; anything else is a fault of the engine.
      if (data->getSize() < 2 || data->peekList(2)[0] != state->appendStandIn)
      {
         program->error(ORVA_ERR_INTERNAL);
         return Append::kFailed;
      }
      void *const *operands = data->peekList(2);
      ORVA_Value *value = state->appendVariable->getValue();
      auto *right = static_cast<ORVA_Value *>(operands[1]);
      if (right->isNull() || !takeSteps(program, countdown, 2))
      {
         ORVA_Value copy(value);
         state->appendStandIn->swap(copy);
         return Append::kNotDone;
      }
      const int code = program->concatenateOperands(value, right);
      if (code != 0)
      {
         program->error(code);
         return Append::kFailed;
      }
      delete popValue(data);
      delete popValue(data);
      *next = program->m_currentPosition + 3;
      return Append::kDone;
   }

   union Slot
   {
      int32_t number;
      ORVA_Array *array;
   };

   // Computes the statement's numbers onto `stack`; false when it has to give up.
   static bool evaluate(ORVA_Program *program, const DecodedStatement *statement, Slot *stack)
   {
      uint32_t depth = 0;
      for (uint32_t i = 0; i < statement->stepCount; i++)
      {
         const StatementStep &step = statement->steps[i];
         switch (step.kind)
         {
            case StatementStep::kVariable:
            {
               const ORVA_Value *value = lookupOrCreate(program, step.instruction)->getValue();
               if (!isPlainInt32(value))
                  return false;
               stack[depth++].number = value->getValueAsInt32();
               break;
            }
            case StatementStep::kConstant:
               stack[depth++].number = step.number;
               break;
            case StatementStep::kVariableOperation:
            {
               const ORVA_Value *value = lookupOrCreate(program, step.instruction)->getValue();
               if (!isPlainInt32(value) || !computeOnTop(step.opcode, &stack[depth - 1], value->getValueAsInt32()))
                  return false;
               break;
            }
            case StatementStep::kConstantOperation:
               if (!computeOnTop(step.opcode, &stack[depth - 1], step.number))
                  return false;
               break;
            case StatementStep::kArray:
            {
               const ORVA_Value *value = lookupOrCreate(program, step.instruction)->getValue();
               if (value == nullptr || !value->isArray())
                  return false;
               stack[depth++].array = value->getValueAsArray();
               break;
            }
            case StatementStep::kOperation:
               depth--;
               if (!computeOnTop(step.opcode, &stack[depth - 1], stack[depth].number))
                  return false;
               break;
            case StatementStep::kElement:
            {
               depth--;
               const ORVA_Value *element = stack[depth - 1].array->get(stack[depth].number);
               if (!isPlainInt32(element))
                  return false;
               stack[depth - 1].number = element->getValueAsInt32();
               break;
            }
         }
      }
      return true;
   }

   // The left operand `top` takes the result of the operator with `right`; false when the
   // operation needs the general path.
   __attribute__((always_inline)) static bool computeOnTop(int opcode, Slot *top, int32_t right)
   {
      int32_t number;
      bool comparison;
      if (!ComputeInt32(opcode, top->number, right, &number, &comparison))
         return false;
      top->number = number;
      return true;
   }

   // Evaluates the statement and does what its last instructions do with the number. Part
   // of runStatement's body: a call per statement measured 3% of a loop of statements.
   __attribute__((always_inline)) static bool completeStatement(ORVA_Program *program,
                                                                const DecodedStatement *statement,
                                                                uint32_t position, uint32_t *next)
   {
      Slot stack[DecodedStatement::kMaxSteps];
      if (!evaluate(program, statement, stack))
         return false;
      const ORVA_Instruction *target = statement->target;
      const uint32_t after = (statement->jump != nullptr) ? statement->jump->m_operand.addr : position + statement->length;
      switch (statement->end)
      {
         case DecodedStatement::kBranch:
         {
            const int32_t result = stack[0].number;
            const bool jump = (target->m_opcode == JZ) ? (result == 0) : (result != 0);
            *next = jump ? target->m_operand.addr : after;
            return true;
         }
         case DecodedStatement::kAssign:
         {
            ORVA_Variable *variable = lookupOrCreate(program, target);
            if (variable->isConstant())
               return false;
            assignNumber(variable, stack[0].number);
            *next = after;
            return true;
         }
         case DecodedStatement::kStore:
         {
            ORVA_Array *elements = stack[0].array;
            const int32_t index = stack[1].number;
            const uint32_t limit = program->m_limits.maxArrayElements;
            if (limit != 0 && static_cast<uint32_t>(elements->size()) >= limit && elements->get(index) == nullptr)
               return false;
            elements->assignNumber(index, stack[2].number);
            *next = after;
            return true;
         }
         case DecodedStatement::kPush:
            program->m_dataStack->push(new ORVA_Value(stack[0].number));
            *next = after;
            return true;
         case DecodedStatement::kAppend:
            break;
      }
      return false;
   }

   // An int32 operand without a name: an operation's result keeps its left operand's
   // name, so with none among the operands the result has none either.
   static bool isPlainInt32(const ORVA_Value *value)
   {
      return value != nullptr && value->getDataType() == ORVA_DT_INT32 && value->getName() == nullptr;
   }

   // Gives the variable a new int32 value without text or name, as an operation's
   // result moved in by SET would be; a plain number or text value is reused.
   static void assignNumber(ORVA_Variable *variable, int32_t number)
   {
      ORVA_Value *value = variable->getValue();
      if (value != nullptr && value->getName() == nullptr &&
          (value->isNull() || value->getDataType() >= ORVA_DT_STRING))
      {
         value->set(number);
         return;
      }
      variable->setValue(new ORVA_Value(number));
   }

   // A binary operator on two int32 values on top of the data stack (mostly results of
   // calls, as in `f(a) + f(b)`): the left one takes the result in place and the right one
   // is dropped, as doBinaryOperation would leave them, without popping and pushing the
   // left one. False, with nothing done, for any other operands.
   __attribute__((always_inline)) static bool operateOnTop(ORVA_Program *program, int opcode)
   {
      ORVA_Stack *data = program->m_dataStack;
      if (data->getSize() < 2)
         return false;
      void *const *operands = data->peekList(2);
      const auto *right = static_cast<const ORVA_Value *>(operands[1]);
      if (right->getDataType() != ORVA_DT_INT32 ||
          !ORVA_Program::operateOnInt32(opcode, static_cast<ORVA_Value *>(operands[0]), right->getValueAsInt32()))
         return false;
      delete popValue(data);
      return true;
   }

   // For PUSH a (already looked up: `left`) followed at `next` by PUSH b, an int32
   // operation and JZ or JNZ, with b an int32 too: where the branch continues, past the
   // four. Else ORVA_INVALID_ADDRESS, and nothing was done but looking b up (which PUSH b
   // does next anyway, creating the variable if it is new).
   static uint32_t int32Branch(ORVA_Program *program, int32_t left, uint32_t next)
   {
      if (next + 2 >= program->m_codeSize)
         return ORVA_INVALID_ADDRESS;
      const ORVA_Instruction *operation = program->m_instructions[next + 1];
      const ORVA_Instruction *branch = program->m_instructions[next + 2];
      if (branch->m_opcode != JZ && branch->m_opcode != JNZ)
         return ORVA_INVALID_ADDRESS;
      // pushedValue's steps, spelled out: through it this path measured 7% slower.
      const ORVA_Instruction *push = program->m_instructions[next];
      const ORVA_Value *right;
      if (push->m_opcode == PUSH_CONST)
         right = push->m_operand.constant;
      else if (push->m_opcode == PUSH_VAR)
         right = lookupOrCreate(program, push)->getValue();
      else
         return ORVA_INVALID_ADDRESS;
      int32_t number;
      bool comparison;
      if (right == nullptr || right->getDataType() != ORVA_DT_INT32 ||
          !ComputeInt32(operation->m_opcode, left, right->getValueAsInt32(), &number, &comparison))
         return ORVA_INVALID_ADDRESS;
      const bool jump = (branch->m_opcode == JZ) ? (number == 0) : (number != 0);
      return jump ? branch->m_operand.addr : next + 3;
   }

   // For PUSH_VAR followed at `next` by RET inside a call, with the variable a local of
   // the call (found at a position of its set): moves the variable's value onto the data
   // stack, where RET finds it as it would find a copy, and leaves the variable without
   // one. Objects are still copied, as their class may see copies. False, with nothing
   // done, otherwise.
   static bool returnsLocal(ORVA_Program *program, const ORVA_Instruction *push, ORVA_Variable *variable,
                            uint32_t next)
   {
      const ORVA_VariableSystem *locals = program->m_locals;
      const ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, push);
      const uint32_t position = cache.index;
      if (program->m_callDepth == 0 || next >= program->m_codeSize || program->m_instructions[next]->m_opcode != RET ||
          variable->m_value == nullptr || variable->m_value->isObject() || variable->m_value->isIterator() ||
          cache.set != kCachedLocal || cache.run != program->m_runNumber ||
          position >= locals->m_count || locals->m_variables[position] != variable)
         return false;
      program->m_dataStack->push(variable->m_value);
      variable->m_value = nullptr;
      return true;
   }

   // The value a PUSH_CONST or PUSH_VAR instruction pushes a copy of (looking the variable
   // up, and creating it when it is new, as the PUSH does), or null for other instructions
   // and for a variable without a value.
   static const ORVA_Value *pushedValue(ORVA_Program *program, const ORVA_Instruction *instruction)
   {
      if (instruction->m_opcode == PUSH_CONST)
         return instruction->m_operand.constant;
      if (instruction->m_opcode == PUSH_VAR)
         return lookupOrCreate(program, instruction)->getValue();
      return nullptr;
   }

   // Stores what an assignment of `value` stores (assignedCopy) into the element at
   // `position`, in the array's own value slot: set would keep a new element as a value of
   // its own, as it does for a host's value.
   static void storeElement(ORVA_Array *elements, int32_t position, const ORVA_Value *value)
   {
      std::unique_ptr<ORVA_Value> stored(assignedCopy(value));
      elements->assign(position, *stored);
   }

   // For PUSH array (already looked up: `elements`) followed at `next` by PUSH index and
   // EGET, or by PUSH index, PUSH value, ESET and POP 1, with an int32 index: reads the
   // element onto the stack, or stores a copy of the value, as those instructions would.
   // Returns how many instructions after the PUSH were done, at most `budget`; 0 when the
   // pattern does not apply (only the lookups the PUSHes make next anyway were made) or
   // an error is due (the instructions then run one by one and raise it).
   static uint32_t accessElement(ORVA_Program *program, ORVA_Array *elements, uint32_t next, uint32_t budget)
   {
      ORVA_Instruction *const *code = program->m_instructions;
      if (elements == nullptr || budget < 2 || next + 1 >= program->m_codeSize)
         return 0;
      const ORVA_Value *index = pushedValue(program, code[next]);
      if (index == nullptr || index->getDataType() != ORVA_DT_INT32)
         return 0;
      const int32_t position = index->getValueAsInt32();
      if (code[next + 1]->m_opcode == EGET)
      {
         program->m_dataStack->push(new ORVA_Value(elements->get(position)));
         return 2;
      }
      if (budget < 4 || next + 3 >= program->m_codeSize || code[next + 2]->m_opcode != ESET ||
          code[next + 3]->m_opcode != POP || code[next + 3]->m_intOperand != 1)
         return 0;
      const ORVA_Value *value = pushedValue(program, code[next + 1]);
      if (value == nullptr)
         return 0;
      const uint32_t limit = program->m_limits.maxArrayElements;
      if (limit != 0 && static_cast<uint32_t>(elements->size()) >= limit && elements->get(position) == nullptr)
         return 0;
      if (value->isArray())
      {
         storeElement(elements, position, value);
         return 4;
      }
      // A copy made in place: an element that is already there takes it over.
      ORVA_Value copy(value);
      elements->assign(position, copy);
      return 4;
   }

   // The variable the instruction's name operand refers to, or null; the full search
   // is findVariable's.
   __attribute__((always_inline)) static ORVA_Variable *lookup(ORVA_Program *program,
                                                               const ORVA_Instruction *instruction)
   {
      return lookupMaking(program, instruction, kFindOnly);
   }

   // The lookups' one path: the variable found last while the epoch stays, else a local
   // at its noted position (making it as `make` says), a frame slot, or the full search,
   // which makes a local holding null for anything but kFindOnly.
   __attribute__((always_inline)) static ORVA_Variable *lookupMaking(ORVA_Program *program,
                                                                     const ORVA_Instruction *instruction,
                                                                     int make)
   {
      const ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      if (cache.epoch == program->m_lookupEpoch)
         return cache.variable;
      ORVA_Variable *slot = carried(program, instruction, make);
      if (slot == nullptr)
         slot = ORVA_FrameSlots::find(program, instruction);
      if (slot != nullptr)
         return keep(program, instruction, slot);
      return searchAndKeep(program, instruction, make != kFindOnly);
   }

   // The local an instruction of the program's own code found at a position of the current
   // local set, in this run or an earlier one, when that is still where the search ends:
   // the program's carry stamp is the one noted then (the run has no constant or global
   // variable, and the code is as it was), the set has the serial it had then (every
   // position up to that one holds the name it held, so the variable there is the first
   // of its name), and the run has made the variable at that position; or, unless `make`
   // is kFindOnly, when the run has made exactly the variables before it: then the spare
   // there, which has the name, is taken up again (holding null, or for kMakeEmpty no value
   // yet, which the caller gives it before anything can read it). Else null. This is what
   // lets a handler's run reach each of its locals with a few comparisons the first time,
   // as the lookup epoch does from the second time on.
   __attribute__((always_inline)) static ORVA_Variable *carried(const ORVA_Program *program,
                                                                const ORVA_Instruction *instruction, int make)
   {
      const ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      ORVA_VariableSystem *locals = program->m_locals;
      if (cache.carry != program->m_carryStamp || cache.serial != locals->m_serial)
         return nullptr;
      if (cache.index < locals->m_count)
         return locals->m_variables[cache.index];
      if (make != kFindOnly && cache.index == locals->m_count && cache.index < locals->m_held)
         return takeUp(locals, make == kMakeNull);
      return nullptr;
   }

   __attribute__((noinline)) static ORVA_Variable *takeUp(ORVA_VariableSystem *locals, bool holdingNull)
   {
      return locals->takeUpSpare(holdingNull ? new ORVA_Value() : nullptr);
   }

   // lookup for an instruction whose variable may have changed since it was found last,
   // making a new local variable holding null when `create` is set and none is found;
   // what it finds is trusted until the epoch moves on.
   __attribute__((noinline)) static ORVA_Variable *searchAndKeep(ORVA_Program *program,
                                                                 const ORVA_Instruction *instruction, bool create)
   {
      ORVA_Variable *variable = carriedOver(program, instruction, create);
      if (variable != nullptr)
         return variable;
      variable = search(program, instruction);
      if (variable == nullptr && create)
      {
         variable = program->m_locals->create(instruction->m_operand.name, new ORVA_Value());
         if (variable != nullptr)
            remember(program, instruction, kCachedLocal, program->m_locals->getCount() - 1);
      }
      if (variable != nullptr)
         keep(program, instruction, variable);
      return variable;
   }

   // A run's first lookup by an instruction of the program's own code whose local an
   // earlier run found (or made) at a position of the same local set. While the set has
   // the serial it had then, every position up to that one holds the name it held (so the
   // variable there is the first of its name); while the constant and global sets lack
   // the name for certain (their name bits), the search ends in the local set. Then the
   // variable is the one at that position, or, when the run has not made so many and
   // `create` is set, a new one (a run that makes its locals in the order of the run before
   // takes up the spare there again): what the search would find or make, without a name
   // compared. Null, and the search decides, when any of that does not hold: another set
   // (a host's, a call's), positions given to other names, code edited since, or module
   // code, which is linked anew for each run.
   static ORVA_Variable *carriedOver(ORVA_Program *program, const ORVA_Instruction *instruction, bool create)
   {
      const ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      ORVA_VariableSystem *locals = program->m_locals;
      if (cache.set != kCachedLocal || cache.run == program->m_runNumber || cache.serial != locals->m_serial ||
          program->m_runCache->editedSince(cache.run) ||
          instruction->m_address >= static_cast<RunState *>(program->m_runState)->ownCodeSize)
         return nullptr;
      const wchar_t *name = instruction->m_operand.name;
      if (((program->m_constants->m_nameBits | program->m_globals->m_nameBits) & NameBit(name)) != 0)
         return nullptr;
      uint32_t index = cache.index;
      ORVA_Variable *variable = nullptr;
      if (index < locals->m_count)
      {
         variable = locals->m_variables[index];
      }
      else if (create && index == locals->m_count && index < locals->m_held)
      {
         // The spare there still has the name, and none of the positions before has it.
         variable = locals->takeUpSpare(new ORVA_Value());
      }
      else if (create)
      {
         // None of the positions before holds the name, so the search would make it.
         variable = locals->create(name, new ORVA_Value());
         index = locals->m_count - 1;
      }
      else
      {
         return nullptr;
      }
      remember(program, instruction, kCachedLocal, index);
      return keep(program, instruction, variable);
   }

   // Through the position remembered last, else the full search.
   static ORVA_Variable *search(ORVA_Program *program, const ORVA_Instruction *instruction)
   {
      ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      const wchar_t *name = instruction->m_operand.name;
      ORVA_VariableSystem *constants = program->m_constants;
      ORVA_VariableSystem *globals = program->m_globals;
      ORVA_VariableSystem *locals = program->m_locals;
      if (cache.run == program->m_runNumber)
      {
         const uint32_t index = cache.index;
         switch (cache.set)
         {
            case kCachedConstant:
               return constants->getByIndex(index);
            case kCachedGlobal:
               if (constants->getCount() == cache.constants)
                  return globals->getByIndex(index);
               break;
            case kCachedLocal:
               if (constants->getCount() == cache.constants &&
                   globals->getCount() == cache.globals)
               {
                  ORVA_Variable *variable = locals->atSerial(index, cache.serial);
                  if (variable != nullptr)
                     return variable;
                  variable = locals->firstAt(index, name);
                  if (variable != nullptr)
                  {
                     cache.serial = locals->m_serial;
                     ORVA_FrameSlots::note(program, instruction, index);
                     return variable;
                  }
               }
               break;
            default:
               break;
         }
      }
      else if (ORVA_Variable *variable = confirmFromEarlierRun(program, instruction))
      {
         return variable;
      }
      // A variable's first use in a run (mostly an assignment that makes it): no set
      // can hold the name when none has its bit.
      if (((constants->m_nameBits | globals->m_nameBits | locals->m_nameBits) & NameBit(name)) == 0)
         return nullptr;

      uint8_t set = kCachedConstant;
      uint32_t index = constants->indexOf(name);
      ORVA_Variable *variable = constants->getByIndex(index);
      if (variable == nullptr)
      {
         set = kCachedGlobal;
         index = globals->indexOf(name);
         variable = globals->getByIndex(index);
      }
      if (variable == nullptr)
      {
         set = kCachedLocal;
         index = locals->indexOf(name);
         variable = locals->getByIndex(index);
      }
      if (variable != nullptr)
         remember(program, instruction, set, index);
      return variable;
   }

   // The variable at the position an earlier run found the instruction's name at, when
   // that is still where a search would end: the sets searched before it certainly lack
   // the name (their name bits say so), and the position holds the first variable of that
   // name. A run that takes the same path lays its variables out as the runs before, so
   // this spares most first lookups of a run the search. Else null.
   static ORVA_Variable *confirmFromEarlierRun(ORVA_Program *program, const ORVA_Instruction *instruction)
   {
      const ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      const wchar_t *name = instruction->m_operand.name;
      const uint64_t bit = NameBit(name);
      const uint64_t constantBits = program->m_constants->m_nameBits;
      ORVA_VariableSystem *set = nullptr;
      switch (cache.set)
      {
         case kCachedConstant:
            set = program->m_constants;
            break;
         case kCachedGlobal:
            set = ((constantBits & bit) == 0) ? program->m_globals : nullptr;
            break;
         case kCachedLocal:
            set = (((constantBits | program->m_globals->m_nameBits) & bit) == 0) ? program->m_locals : nullptr;
            break;
         default:
            break;
      }
      ORVA_Variable *variable = (set != nullptr) ? set->firstAt(cache.index, name) : nullptr;
      if (variable != nullptr)
         remember(program, instruction, cache.set, cache.index);
      return variable;
   }

   // lookup, and when nothing is found a new local variable holding null.
   __attribute__((always_inline)) static ORVA_Variable *lookupOrCreate(ORVA_Program *program,
                                                                       const ORVA_Instruction *instruction)
   {
      return lookupMaking(program, instruction, kMakeNull);
   }

   // lookupOrCreate for SET, which gives the variable its value at once: a local made at
   // its noted position (see carried) holds no value until then, rather than a null one
   // that SET would only delete.
   __attribute__((always_inline)) static ORVA_Variable *lookupToAssign(ORVA_Program *program,
                                                                       const ORVA_Instruction *instruction)
   {
      return lookupMaking(program, instruction, kMakeEmpty);
   }

   // The variable NEXT assigns the element to: the one it found for this name last while
   // the epoch stays (the name comes from the iterator, so it is compared), else
   // findOrCreateVariable's.
   static ORVA_Variable *iterationVariable(ORVA_Program *program, const ORVA_Instruction *next, const wchar_t *name)
   {
      const ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, next);
      if (cache.epoch == program->m_lookupEpoch && wcscmp(cache.variable->getName(), name) == 0)
         return cache.variable;
      return keep(program, next, program->findOrCreateVariable(name));
   }

   // Trusts the variable an instruction found until the epoch moves on.
   __attribute__((always_inline)) static ORVA_Variable *keep(const ORVA_Program *program,
                                                             const ORVA_Instruction *instruction,
                                                             ORVA_Variable *variable)
   {
      ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      cache.epoch = program->m_lookupEpoch;
      cache.variable = variable;
      return variable;
   }

   static void remember(const ORVA_Program *program, const ORVA_Instruction *instruction, uint8_t set, uint32_t index)
   {
      ORVA_InstructionCache &cache = ORVA_InstructionCache::of(program, instruction);
      cache.run = program->m_runNumber;
      cache.set = set;
      cache.index = index;
      cache.constants = program->m_constants->getCount();
      cache.globals = program->m_globals->getCount();
      cache.serial = (set == kCachedLocal) ? program->m_locals->m_serial : 0;
      const bool ownCode = instruction->m_address < static_cast<RunState *>(program->m_runState)->ownCodeSize;
      cache.carry = (set == kCachedLocal && ownCode && program->m_carryStamp != kNoCarry) ? program->m_carryStamp : 0;
      if (set == kCachedLocal)
         ORVA_FrameSlots::note(program, instruction, index);
      else
         ORVA_FrameSlots::forget(program, instruction);
   }

   // Gives a set the run is done with to the run cache for the next run (or deletes it
   // when the run made no cache).
   static void keepSet(ORVA_Program *program, ORVA_VariableSystem *set,
                       void (ORVA_RunCache::*keep)(ORVA_VariableSystem *) noexcept)
   {
      if (program->m_runCache != nullptr)
         (program->m_runCache->*keep)(set);
      else
         delete set;
   }

   // Replaces the error text with "Error <code> in line <line>: <message>".
   static void recordError(ORVA_Program *program, int code, int line)
   {
      free(program->m_errorText);
      wchar_t text[kErrorTextSize];
      FormatRuntimeError(text, kErrorTextSize, code, line);
      program->m_errorText = qv_wcsdup(text);
   }

   // A copy of the set, or null when memory runs out (the clean-up of a run must not throw).
   static ORVA_VariableSystem *copyOrNull(ORVA_VariableSystem *set) noexcept
   {
      try
      {
         return new ORVA_VariableSystem(set);
      }
      catch (...)
      {
         return nullptr;
      }
   }

   // The error text outlives a later run that ends well, as hosts have always read it;
   // the details describe the last run only, so code 0 says that it succeeded.
   static void clearErrorInfo(ORVA_Program *program)
   {
      program->m_errorInfo = ORVA_ErrorInfo();
   }

   // Calls a built-in or host function. What the handler stores as its result is the
   // engine's from here on: one of a host handler's own arguments (which the stack still
   // owns) becomes a copy of it, and a result stored before the handler threw is released.
   // No built-in hands back one of its arguments, so their results are not compared.
   static int callHandler(ORVA_Program *program, const ORVA_ExtFunction *function, int argc, ORVA_Value **argv,
                          ORVA_Value **result)
   {
      int rc;
      try
      {
         rc = function->handler(argc, argv, result, program);
      }
      catch (...)
      {
         if (!isArgument(*result, argc, argv))
            delete *result;
         *result = nullptr;
         throw;
      }
      if (!IsBuiltinRecord(function) && isArgument(*result, argc, argv))
      {
         const ORVA_Value *argument = *result;
         *result = nullptr;   // should the copy fail, the clean-up must not free the argument
         *result = new ORVA_Value(argument);
      }
      return rc;
   }

   static bool isArgument(const ORVA_Value *value, int argc, ORVA_Value *const *argv)
   {
      for (int i = 0; value != nullptr && i < argc; i++)
      {
         if (argv[i] == value)
            return true;
      }
      return false;
   }

   // The entry function's address: the given name, else "main", else "$main". The address
   // of one of the program's own functions found under the first name tried is kept for
   // the next run: own functions come before those of modules, so no module can hide it.
   static uint32_t entryAddress(const ORVA_Program *program, const wchar_t *entryPoint, uint32_t ownCodeSize)
   {
      ORVA_RunCache *cache = program->m_runCache;
      uint32_t address = cache->entryAddress(entryPoint);
      if (address != ORVA_INVALID_ADDRESS)
         return address;
      address = program->getFunctionAddress(entryPoint != nullptr ? entryPoint : L"main");
      if (address < ownCodeSize)
         cache->keepEntryAddress(entryPoint, address);
      if (address == ORVA_INVALID_ADDRESS && entryPoint == nullptr)
         address = program->getFunctionAddress(L"$main");
      return address;
   }
};

int ORVA_Program::run(ORVA_Environment *environment, uint32_t argc, ORVA_Value **argv,
                      ORVA_VariableSystem *localSet, ORVA_VariableSystem **globalSetReceiver,
                      ORVA_VariableSystem *constantSet, const wchar_t *entryPoint)
{
   if (m_runState != nullptr)
   {
      // A handler tried to run the program that is calling it. The run state belongs to
      // the outer run, so refuse without touching it (error() would stop the outer run);
      // what was handed over is still ours to release.
      delete environment;
      for (uint32_t i = 0; argv != nullptr && i < argc; i++)
         delete argv[i];
      delete localSet;
      ORVA_Engine::recordError(this, ORVA_ERR_ALREADY_RUNNING, 0);
      describeError(ORVA_ERR_ALREADY_RUNNING, 0, nullptr);
      return -1;
   }

   RunState state;
   state.stepsLeft = m_limits.maxSteps;
   m_runState = &state;
   m_runNumber++;
   const uint32_t originalCodeSize = m_codeSize;
   const uint32_t originalFunctionCount = m_functionCount;
   ORVA_VariableSystem *const originalGlobals = m_globals;
   ORVA_VariableSystem *const originalConstants = m_constants;

   delete m_result;
   m_result = nullptr;
   m_currentPosition = ORVA_INVALID_ADDRESS;
   m_callDepth = 0;

   // No exception may reach the host: running out of memory is a runtime error like any
   // other, and whatever a host function throws stops the run as an internal error.
   try
   {
      ORVA_Engine::startAndExecute(this, environment, argc, argv, localSet, constantSet, entryPoint);
   }
   catch (const std::bad_alloc &)
   {
      error(ORVA_ERR_OUT_OF_MEMORY);
   }
   catch (...)
   {
      error(ORVA_ERR_INTERNAL);
   }

   if (!state.failed && m_dataStack != nullptr)
      m_result = popValue(m_dataStack);

   // Clean-up, in an order that never leaves a pointer to something already released.
   // startAndExecute replaced the global and constant sets with the run's own, unless it
   // failed before that; the originals come back, except that a program that keeps its
   // globals keeps those of a run that ended well (the receiver then gets a copy).
   if (m_globals != originalGlobals)
   {
      ORVA_VariableSystem *left = m_globals;
      m_globals = originalGlobals;
      if (m_keepGlobals && !state.failed)
      {
         m_globals = left;
         left = (globalSetReceiver != nullptr) ? ORVA_Engine::copyOrNull(left) : nullptr;
         delete originalGlobals;
      }
      if (globalSetReceiver != nullptr)
         *globalSetReceiver = left;
      else
         ORVA_Engine::keepSet(this, left, &ORVA_RunCache::keepGlobals);
   }
   else if (globalSetReceiver != nullptr)
   {
      *globalSetReceiver = nullptr;
   }

   if (m_constants != originalConstants)
   {
      delete m_constants;
      m_constants = originalConstants;
   }

   if (m_dataStack != nullptr)
   {
      while (m_dataStack->getSize() > 0)
         delete popValue(m_dataStack);
   }
   if (m_controlStack != nullptr)
      ORVA_Engine::unwindCalls(this);

   delete m_environment;
   m_environment = nullptr;

   ORVA_Engine::keepSet(this, m_locals, &ORVA_RunCache::keepLocals);
   m_locals = nullptr;

   // The emptied stacks stay for the next run.
   if (m_controlStack != nullptr && m_controlStack->getSize() != 0)
   {
      delete m_controlStack;
      m_controlStack = nullptr;
   }

   free(m_modules);
   m_modules = nullptr;
   m_moduleCount = 0;

   ORVA_Engine::forgetDecoded(this);
   if (m_sharedCode != nullptr)
      ORVA_InstructionCache::releaseConstants(this, originalCodeSize);
   for (uint32_t i = originalCodeSize; i < m_codeSize; i++)
      delete m_instructions[i];
   m_codeSize = originalCodeSize;
   m_functionCount = originalFunctionCount;

   // A request that came too late for this run's last checkpoint is not carried over, and
   // one made for this run's serial cannot match a later run.
   m_interruptRequested.store(false, std::memory_order_relaxed);
   // Only the thread running the program moves the serial on (other threads read it), so
   // a plain store does: a locked add would stall every run for nothing.
   m_runSerial.store(m_runSerial.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
   m_runState = nullptr;
   if (!state.failed)
      ORVA_Engine::clearErrorInfo(this);
   return state.failed ? -1 : 0;
}

void ORVA_Engine::startAndExecute(ORVA_Program *program, ORVA_Environment *environment, uint32_t argc,
                                  ORVA_Value **argv, ORVA_VariableSystem *localSet,
                                  ORVA_VariableSystem *constantSet, const wchar_t *entryPoint)
{
   // Take ownership of everything handed over before the first allocation that may fail.
   program->m_environment = environment;
   program->m_locals = localSet;
   HostArguments arguments(argv, argc);
   if (program->m_environment == nullptr)
      program->m_environment = new ORVA_Environment();
   if (program->m_runCache == nullptr)
      program->m_runCache = new ORVA_RunCache();
   if (program->m_dataStack == nullptr)
      program->m_dataStack = new ORVA_Stack();
   if (program->m_controlStack == nullptr)
      program->m_controlStack = new ORVA_Stack();
   if (program->m_locals == nullptr)
      program->m_locals = program->m_runCache->takeLocals();

   // The run works on a copy of the global set and on the constant set merged with the
   // host's; run puts the program's own sets back when the run is over.
   program->m_globals = program->m_runCache->takeGlobals(program->m_globals);
   program->m_runCache->callTargets().startRun();
   if (constantSet != nullptr)
   {
      ORVA_VariableSystem *constants = new ORVA_VariableSystem(program->m_constants);
      program->m_constants = constants;
      constants->merge(constantSet);
   }

   const uint32_t ownCodeSize = program->m_codeSize;
   static_cast<RunState *>(program->m_runState)->ownCodeSize = ownCodeSize;
   for (uint32_t i = 0; i < program->m_preloadCount; i++)
   {
      if (!program->m_environment->useModule(program, program->m_preloadList[i]))
      {
         program->error(ORVA_ERR_MODULE_NOT_FOUND, program->m_preloadList[i]);
         return;
      }
   }

   ORVA_InstructionCache::cover(program);
   const bool noNames = program->m_constants->getCount() == 0 && program->m_globals->getCount() == 0;
   program->m_carryStamp = noNames ? program->m_runCache->codeStamp() : kNoCarry;
   uint32_t entry = entryAddress(program, entryPoint, ownCodeSize);
   if (entry == ORVA_INVALID_ADDRESS)
   {
      program->error(ORVA_ERR_NO_MAIN, entryPoint != nullptr ? entryPoint : L"main");
      return;
   }
   program->m_entryAddress = entry;
   if (localSet == nullptr && runEntry(program, entry, ownCodeSize, &arguments))
      return;
   const uint32_t bound = (localSet == nullptr) ? bindEntryParameters(program, entry, ownCodeSize, &arguments) : 0;
   while (arguments.left())
   {
      wchar_t name[kDollarNameSize];
      FormatDollarName(name, arguments.taken() + 1);
      program->m_locals->create(name, arguments.take());
   }
   program->m_bindCounter = static_cast<int32_t>(bound + 1);
   program->m_currentPosition = entry + bound;
   newEpoch(program);
   program->execute();
}

// Enters a script function: pushes the caller's frame and gives the callee a local set
// (new, or recycled empty) holding the top `argc` values of the data stack as "$1".."$n"
// (and "$name" for named arguments). The caller sets the position to the function's
// address afterwards.
void ORVA_Program::callFunction(int argc)
{
   if (m_callDepth >= kMaxCallDepth)
   {
      error(ORVA_ERR_CONTROL_STACK_OVERFLOW);
      return;
   }
   // Made before the frame is pushed: running out of memory here leaves no half frame.
   ORVA_VariableSystem *calleeLocals = ORVA_Engine::takeLocals(this);
   int base = m_dataStack->getSize() - ((argc > 0) ? argc : 0);
   if (base < 0)
      base = 0;
   ORVA_Engine::pushFrame(this, base, calleeLocals);
   ORVA_Engine::newEpoch(this);
   m_bindCounter = 1;

   for (int n = argc; n >= 1; n--)
   {
      ORVA_Value *argument = popValue(m_dataStack);
      if (argument == nullptr)
      {
         error(ORVA_ERR_DATA_STACK_UNDERFLOW);
         return;
      }
      wchar_t name[kDollarNameSize];
      FormatDollarName(name, static_cast<uint32_t>(n));
      m_locals->create(name, argument);

      const wchar_t *argumentName = argument->getName();
      if (argumentName != nullptr)
      {
         wchar_t namedVariable[kNamedArgumentSize];
         size_t length = 0;
         namedVariable[length++] = L'$';
         while (length + 1 < kNamedArgumentSize && argumentName[length - 1] != 0)
         {
            namedVariable[length] = argumentName[length - 1];
            length++;
         }
         namedVariable[length] = 0;
         m_locals->create(namedVariable, new ORVA_Value(argument));
      }
   }
}

ORVA_Variable *ORVA_Program::findVariable(const wchar_t *name)
{
   ORVA_Variable *variable = m_constants->find(name);
   if (variable == nullptr)
      variable = m_globals->find(name);
   if (variable == nullptr)
      variable = m_locals->find(name);
   return variable;
}

ORVA_Variable *ORVA_Program::findOrCreateVariable(const wchar_t *name)
{
   ORVA_Variable *variable = findVariable(name);
   if (variable == nullptr)
      variable = m_locals->create(name, new ORVA_Value());
   return variable;
}

ORVA_Variable *ORVA_Program::createVariable(const wchar_t *name)
{
   if (findVariable(name) != nullptr)
      return nullptr;
   return m_locals->create(name, new ORVA_Value());
}

int ChargeRunSteps(ORVA_Program *program, uint64_t steps)
{
   return ORVA_Engine::chargeSteps(program, steps);
}

uint32_t NextRunSlice(ORVA_Program *program, int *code)
{
   return ORVA_Engine::nextSlice(program, code);
}

ORVA_VariableSystem *OpenCallFrame(ORVA_Program *program)
{
   return ORVA_Engine::openFrame(program);
}

int CallHandler(ORVA_Program *program, const ORVA_ExtFunction *function, int argc, ORVA_Value **argv,
                ORVA_Value **result)
{
   return ORVA_Engine::callHandler(program, function, argc, argv, result);
}

int CheckCreatedValueAgainstLimits(const ORVA_Program *program, ORVA_Value *value)
{
   return ORVA_Engine::checkCreatedValue(program, value);
}

bool BindsItsParameters(const ORVA_Program *program, uint32_t address, uint32_t *binds)
{
   const uint32_t plan = ORVA_Engine::planAt(program, address);
   *binds = plan & ~kArgumentsUnseen;
   return (plan & kArgumentsUnseen) != 0;
}

// Records the error text for `code` at the current instruction's line and stops the run.
// Cold, as is everything that leads only here: the code of a run's ordinary path then
// takes fewer instruction-cache lines.
__attribute__((cold)) void ORVA_Program::error(int code)
{
   error(code, nullptr);
}

__attribute__((cold)) void ORVA_Program::error(int code, const wchar_t *name)
{
   int line = 0;
   if (m_currentPosition != ORVA_INVALID_ADDRESS && m_currentPosition < m_codeSize)
      line = m_instructions[m_currentPosition]->getLine();
   ORVA_Engine::recordError(this, code, line);
   describeError(code, line, name);
   m_currentPosition = ORVA_INVALID_ADDRESS;
   if (m_runState != nullptr)
      static_cast<RunState *>(m_runState)->failed = true;
}

// Runs instructions from the current position until the run ends: the position reaches
// the code size (end of code, RET/NRET/EXIT at top level, a handler's stop code) or an
// error sets it to ORVA_INVALID_ADDRESS. One dispatch per instruction; operands come
// straight from the instruction record.
// `countdown`: instructions left until the next checkpoint; 1 puts one before the first.
void ORVA_Program::execute(uint32_t countdown)
{
// Raise a runtime error and leave the loop; the run is over.
#define RAISE(code)      \
   do                    \
   {                     \
      error(code);       \
      return;            \
   } while (0)
// The same for an error about the function or attribute the instruction names.
#define RAISE_ABOUT_NAME(code)                           \
   do                                                    \
   {                                                     \
      error(code, instruction->m_operand.name);          \
      return;                                            \
   } while (0)
// Leave the loop when an operation called from here raised an error.
#define STOP_IF_FAILED()                                \
   do                                                   \
   {                                                    \
      if (m_currentPosition == ORVA_INVALID_ADDRESS)    \
         return;                                        \
   } while (0)
#define POP() popValue(m_dataStack)
#define PEEK() peekValue(m_dataStack)
#define PUSH(value) ORVA_Engine::pushValue(m_dataStack, value)

   static_cast<RunState *>(m_runState)->countdown = &countdown;
   while (m_currentPosition < m_codeSize)
   {
      if (--countdown == 0)
      {
         countdown = ORVA_Engine::checkpoint(this);
         if (countdown == 0)
            return;
      }
      const ORVA_Instruction *instruction = m_instructions[m_currentPosition];
      uint32_t next = m_currentPosition + 1;

      switch (instruction->m_opcode)
      {
         case NOP:
            break;

         case NRET:
            PUSH(new ORVA_Value());
            [[fallthrough]];
         case RET:
            if (m_callDepth > 0)
               next = ORVA_Engine::returnFromCall(this);
            else
               next = m_codeSize;
            break;

         case JMP:
            next = instruction->m_operand.addr;
            break;

         case CALL_ADDR:
            next = ORVA_Engine::enterFunction(this, instruction, instruction->m_intOperand, instruction->m_operand.addr,
                                              &countdown);
            STOP_IF_FAILED();
            break;

         case CALL_NAME:
         {
            const int argc = instruction->m_intOperand;
            const ORVA_ExtFunction *function = ORVA_Engine::hostFunction(this, instruction);
            if (function == nullptr)
            {
               uint32_t address = getFunctionAddress(instruction->m_operand.name);
               if (address == ORVA_INVALID_ADDRESS)
                  RAISE_ABOUT_NAME(ORVA_ERR_FUNCTION_NOT_FOUND);
               next = ORVA_Engine::enterFunction(this, instruction, argc, address, &countdown);
               STOP_IF_FAILED();
               break;
            }
            if (argc < 0 || (function->numArgs != -1 && function->numArgs != argc))
               RAISE_ABOUT_NAME(ORVA_ERR_INVALID_ARGUMENT_COUNT);
            if (m_dataStack->getSize() < argc)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            if (function->handler == nullptr)
               RAISE(ORVA_ERR_INTERNAL);

            ORVA_Value *result = nullptr;
            auto **argv = reinterpret_cast<ORVA_Value **>(m_dataStack->peekList(argc));
            int rc = ORVA_Engine::callHandler(this, function, argc, argv, &result);
            if (rc == 0)
            {
               for (int i = 0; i < argc; i++)
                  delete POP();
            }
            else if (rc == -1)
            {
               next = m_codeSize;
            }
            else
            {
               delete result;
               RAISE_ABOUT_NAME(rc);
            }
            const int limitCode = ORVA_Engine::checkCreatedValue(this, result);
            if (limitCode != 0)
            {
               delete result;
               RAISE(limitCode);
            }
            // A handler that stored nothing still yields a value: null.
            PUSH((result != nullptr) ? result : new ORVA_Value());
            break;
         }

         case PUSH_CONST:
         case PUSH_VAR:
         {
            // A statement seen before in this run runs in one step.
            if (ORVA_Engine::tryStatement(this, instruction, &countdown, &next))
               break;
            ORVA_Variable *variable = (instruction->m_opcode == PUSH_CONST)
                                         ? nullptr
                                         : ORVA_Engine::lookupOrCreate(this, instruction);
            const ORVA_Value *source = (variable == nullptr) ? instruction->m_operand.constant : variable->getValue();
            // "return x;" of a local variable of a call: the value itself is returned (the
            // call's set releases it at once anyway), and the RET counts as run.
            if (variable != nullptr && countdown > 1 && ORVA_Engine::returnsLocal(this, instruction, variable, next))
            {
               countdown--;
               next = ORVA_Engine::returnFromCall(this);
               break;
            }
            // PUSH a; PUSH b; operation; JZ or JNZ on two int32 values: the branch is
            // decided here, without making a value; all four instructions count as run.
            if (countdown > 3 && source != nullptr && source->getDataType() == ORVA_DT_INT32)
            {
               const uint32_t target = ORVA_Engine::int32Branch(this, source->getValueAsInt32(), next);
               if (target != ORVA_INVALID_ADDRESS)
               {
                  countdown -= 3;
                  next = target;
                  break;
               }
            }
            // An array pushed to have an element read or written at an int32 index: the
            // element is reached here, without copies of the array and the index.
            if (countdown > 2 && source != nullptr && source->getDataType() == ORVA_DT_ARRAY)
            {
               const uint32_t done = ORVA_Engine::accessElement(this, source->getValueAsArray(), next, countdown - 1);
               if (done > 0)
               {
                  countdown -= done;
                  next += done;
                  break;
               }
            }
            // An int32 pushed as the right operand of an int32 operation that follows is
            // computed with at once, in place of the left operand: no value is made for
            // it. The operation counts as run, within the slice like SET+POP below.
            if (countdown > 1 && next < m_codeSize && source != nullptr && source->getDataType() == ORVA_DT_INT32 &&
                IsInt32Operator(m_instructions[next]->m_opcode))
            {
               ORVA_Value *left = PEEK();
               if (left != nullptr &&
                   operateOnInt32(m_instructions[next]->m_opcode, left, source->getValueAsInt32()))
               {
                  countdown--;
                  next++;
                  break;
               }
            }
            PUSH(new ORVA_Value(source));
            break;
         }

         case EXIT:
            if (m_dataStack->getSize() == 0)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            next = m_codeSize;
            break;

         case POP:
            for (int i = 0; i < instruction->m_intOperand && m_dataStack->getSize() > 0; i++)
               delete POP();
            break;

         case SET:
         {
            ORVA_Variable *variable = ORVA_Engine::lookupToAssign(this, instruction);
            if (variable->isConstant())
               RAISE(ORVA_ERR_ASSIGNMENT_TO_CONSTANT);
            ORVA_Value *top = PEEK();
            if (top == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            // An assignment statement is SET followed by POP 1: the value then moves into
            // the variable instead of being copied and dropped, and the POP counts as run.
            // Arrays are still copied (the popped value shares its array), and the last
            // instruction of a slice leaves the POP to the next one, for the checkpoint.
            if (next < m_codeSize && countdown > 1 && !top->isArray())
            {
               const ORVA_Instruction *following = m_instructions[next];
               if (following->m_opcode == POP && following->m_intOperand == 1)
               {
                  variable->setValue(POP());
                  countdown--;
                  next++;
                  break;
               }
            }
            variable->setValue(assignedCopy(top));
            break;
         }

         case ADD: case SUB: case MUL: case DIV: case REM:
         case EQ: case NE: case LT: case LE: case GT: case GE:
         case BITAND: case BITOR: case BITXOR: case AND: case OR:
         case LSHIFT: case RSHIFT:
         case LIKE: case ILIKE: case MATCH: case IMATCH: case CASE:
            if (ORVA_Engine::operateOnTop(this, instruction->m_opcode))
               break;
            doBinaryOperation(instruction->m_opcode);
            STOP_IF_FAILED();
            break;

         case CONCAT:
            if (m_currentPosition == static_cast<RunState *>(m_runState)->appendAt)
            {
               const ORVA_Engine::Append append = ORVA_Engine::finishAppend(this, &countdown, &next);
               if (append == ORVA_Engine::Append::kFailed)
                  return;
               if (append == ORVA_Engine::Append::kDone)
                  break;
            }
            doBinaryOperation(CONCAT);
            STOP_IF_FAILED();
            break;

         case JZ:
         case JNZ:
         {
            ORVA_Value *condition = POP();
            if (condition == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            if (!condition->isNumeric())
            {
               delete condition;
               RAISE(ORVA_ERR_NOT_A_NUMBER);
            }
            bool jump = (instruction->m_opcode == JZ) ? condition->isZero() : condition->isNonZero();
            delete condition;
            if (jump)
               next = instruction->m_operand.addr;
            break;
         }

         case PRINT:
         {
            std::unique_ptr<ORVA_Value> value(POP());
            if (value == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            m_environment->print(value.get());
            break;
         }

         case BIND:
         {
            wchar_t argumentName[kDollarNameSize];
            // Counted unsigned: code that loops over BIND outside a call must not overflow.
            const auto position = static_cast<uint32_t>(m_bindCounter);
            FormatDollarName(argumentName, position);
            m_bindCounter = static_cast<int32_t>(position + 1);
            ORVA_Variable *argument = m_locals->find(argumentName);
            ORVA_Value *value = (argument != nullptr) ? new ORVA_Value(argument->getValue()) : new ORVA_Value();
            ORVA_Variable *parameter = m_locals->find(instruction->m_operand.name);
            if (parameter != nullptr)
               parameter->setValue(value);
            else
               m_locals->create(instruction->m_operand.name, value);
            break;
         }

         case INC:
         case DEC:
         case INCP:
         case DECP:
         {
            ORVA_Value *value = valueOf(ORVA_Engine::lookupOrCreate(this, instruction));
            if (!value->isNumeric())
               RAISE(ORVA_ERR_BAD_ARITHMETIC_CONVERSION);
            const int opcode = instruction->m_opcode;
            // "i++;" as a statement is INC then POP 1: the copy would be dropped at once,
            // so it is not made, and the POP counts as run (within the slice).
            const bool dropped = countdown > 1 && next < m_codeSize && m_instructions[next]->m_opcode == POP &&
                                 m_instructions[next]->m_intOperand == 1;
            if (!dropped && (opcode == INC || opcode == DEC))
               PUSH(new ORVA_Value(value));
            if (opcode == INC || opcode == INCP)
               value->increment();
            else
               value->decrement();
            if (!dropped && (opcode == INCP || opcode == DECP))
               PUSH(new ORVA_Value(value));
            if (dropped)
            {
               countdown--;
               next++;
               // "i++" closing a for loop's step goes straight on to the condition.
               if (countdown > 1 && next < m_codeSize && m_instructions[next]->m_opcode == JMP)
               {
                  countdown--;
                  next = m_instructions[next]->m_operand.addr;
               }
            }
            break;
         }

         case NEG:
         case NOT:
         case BITNOT:
            doUnaryOperation(instruction->m_opcode);
            STOP_IF_FAILED();
            break;

         case CAST:
         {
            ORVA_Value *value = PEEK();
            if (value == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            const int dataType = instruction->m_intOperand;
            if (dataType < ORVA_DT_NULL || dataType > ORVA_DT_UINT64 || !value->convert(dataType))
               RAISE(ORVA_ERR_TYPE_CAST);
            break;
         }

         case AGET:
         {
            std::unique_ptr<ORVA_Value> operand(POP());
            if (operand == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            if (!operand->isObject())
               RAISE(ORVA_ERR_NOT_AN_OBJECT);
            ORVA_Object *object = operand->getValueAsObject();
            if (object == nullptr || object->getClass() == nullptr)
               RAISE(ORVA_ERR_INTERNAL);
            ORVA_Value *attribute = object->getClass()->getAttr(object, instruction->m_operand.name);
            operand.reset();
            if (attribute == nullptr)
               RAISE_ABOUT_NAME(ORVA_ERR_UNKNOWN_ATTRIBUTE);
            PUSH(attribute);
            break;
         }

         case ASET:
         {
            std::unique_ptr<ORVA_Value> value(POP());
            if (value == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            std::unique_ptr<ORVA_Value> operand(POP());
            if (operand == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            ORVA_Object *object = operand->getValueAsObject();
            if (!operand->isObject())
               RAISE(ORVA_ERR_NOT_AN_OBJECT);
            if (object == nullptr || object->getClass() == nullptr)
               RAISE(ORVA_ERR_INTERNAL);
            if (!object->getClass()->setAttr(object, instruction->m_operand.name, value.get()))
               RAISE_ABOUT_NAME(ORVA_ERR_UNKNOWN_ATTRIBUTE);
            PUSH(value.release());
            break;
         }

         case ARRAY:
         {
            ORVA_Variable *variable = ORVA_Engine::lookup(this, instruction);
            if (variable == nullptr)
               m_locals->create(instruction->m_operand.name, NewArrayValue());
            else if (!valueOf(variable)->isArray())
               RAISE(ORVA_ERR_VARIABLE_EXISTS);
            break;
         }

         case EGET:
         {
            std::unique_ptr<ORVA_Value> index(POP());
            if (index == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            std::unique_ptr<ORVA_Value> array(POP());
            if (array == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            if (!array->isArray())
               RAISE(ORVA_ERR_NOT_AN_ARRAY);
            if (!index->isInteger())
               RAISE(ORVA_ERR_INDEX_NOT_INTEGER);
            ORVA_Value *element = array->getValueAsArray()->get(index->getValueAsInt32());
            PUSH((element != nullptr) ? new ORVA_Value(element) : new ORVA_Value());
            break;
         }

         case ESET:
         {
            std::unique_ptr<ORVA_Value> value(POP());
            std::unique_ptr<ORVA_Value> index(POP());
            std::unique_ptr<ORVA_Value> array(POP());
            if (value == nullptr || index == nullptr || array == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            if (!index->isInteger())
               RAISE(ORVA_ERR_INDEX_NOT_INTEGER);
            if (!array->isArray())
               RAISE(ORVA_ERR_NOT_AN_ARRAY);
            ORVA_Array *elements = array->getValueAsArray();
            const int32_t position = index->getValueAsInt32();
            if (m_limits.maxArrayElements != 0 && static_cast<uint32_t>(elements->size()) >= m_limits.maxArrayElements &&
                elements->get(position) == nullptr)
               RAISE(ORVA_ERR_ARRAY_LIMIT);
            ORVA_Engine::storeElement(elements, position, value.get());
            PUSH(value.release());
            break;
         }

         case NAME:
         {
            ORVA_Value *value = PEEK();
            if (value == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            value->setName(instruction->m_operand.name);
            break;
         }

         case FOREACH:
         {
            int code = ORVA_Iterator::createIterator(m_dataStack);
            if (code != 0)
               RAISE(code);
            break;
         }

         case NEXT:
         {
            ORVA_Value *top = PEEK();
            if (top == nullptr)
               RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            ORVA_Iterator *iterator = top->getValueAsIterator();
            if (iterator == nullptr)
               RAISE(27);  // deliberately outside the table: "Unknown error code"
            ORVA_Value *element = iterator->next();
            PUSH(new ORVA_Value(static_cast<int32_t>((element != nullptr) ? 1 : 0)));
            ORVA_Variable *variable = ORVA_Engine::iterationVariable(this, instruction, iterator->getVariableName());
            if (variable->isConstant())
               RAISE(ORVA_ERR_ASSIGNMENT_TO_CONSTANT);
            variable->setValue((element != nullptr) ? new ORVA_Value(element) : new ORVA_Value());
            break;
         }

         case GLOBAL:
         {
            const wchar_t *name = instruction->m_operand.name;
            const bool hasInitialValue = instruction->m_intOperand >= 1;
            if (m_globals->find(name) != nullptr)
            {
               // Declared before: the variable keeps its value; the initial value the
               // code pushed for the declaration is dropped.
               if (hasInitialValue)
                  delete POP();
               break;
            }
            if (m_constants->find(name) != nullptr || m_locals->find(name) != nullptr)
               RAISE(ORVA_ERR_VARIABLE_EXISTS);
            ORVA_Value *initial = nullptr;
            if (hasInitialValue)
            {
               initial = POP();
               if (initial == nullptr)
                  RAISE(ORVA_ERR_DATA_STACK_UNDERFLOW);
            }
            m_globals->create(name, (initial != nullptr) ? initial : new ORVA_Value());
            globalsChanged();
            break;
         }

         case GARRAY:
         {
            const wchar_t *name = instruction->m_operand.name;
            ORVA_Variable *variable = m_globals->find(name);
            if (variable != nullptr)
            {
               if (!valueOf(variable)->isArray())
                  RAISE(ORVA_ERR_VARIABLE_EXISTS);
               break;
            }
            if (m_constants->find(name) != nullptr || m_locals->find(name) != nullptr)
               RAISE(ORVA_ERR_VARIABLE_EXISTS);
            m_globals->create(name, NewArrayValue());
            globalsChanged();
            break;
         }

         default:
            RAISE(ORVA_ERR_INTERNAL);
      }

      m_currentPosition = next;
   }

#undef RAISE
#undef RAISE_ABOUT_NAME
#undef STOP_IF_FAILED
#undef POP
#undef PEEK
#undef PUSH
}
