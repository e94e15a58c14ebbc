/* Calls a Python 3 handler the way a host does on every event: the module text is compiled
   and run once (it defines onEvent); each event builds an argument tuple of three new
   values, calls the function with PyObject_Call and reads the integer result. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "events.h"

/* classify(user, octet): a host function the handler calls once per event. */
static PyObject *classify(PyObject *self, PyObject *const *args, Py_ssize_t count)
{
   (void)self;
   if (count != 2 || !PyUnicode_Check(args[0]) || !PyUnicode_Check(args[1]))
   {
      PyErr_SetString(PyExc_TypeError, "classify(user, octet) takes two texts");
      return NULL;
   }
   const char *octet = PyUnicode_AsUTF8(args[1]);
   if (octet == NULL)
      return NULL;
   return PyLong_FromLong((long)PyUnicode_GetLength(args[0]) * 3 + strtol(octet, NULL, 10));
}

static PyMethodDef s_classify = { "classify", (PyCFunction)(void (*)(void))classify,
                                  METH_FASTCALL, NULL };

static PyObject *loadHandler(const char *path)
{
   char *source = readSource(path);
   PyObject *globals = PyDict_New();
   PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
   PyObject *function = PyCFunction_New(&s_classify, NULL);
   PyDict_SetItemString(globals, "classify", function);
   Py_DECREF(function);
   PyObject *code = Py_CompileString(source, path, Py_file_input);
   free(source);
   PyObject *done = code != NULL ? PyEval_EvalCode(code, globals, globals) : NULL;
   Py_XDECREF(code);
   Py_XDECREF(done);
   PyObject *handler = done != NULL ? PyDict_GetItemString(globals, "onEvent") : NULL;
   Py_XINCREF(handler);
   Py_DECREF(globals);
   return handler;
}

int main(int argc, char **argv)
{
   long events = eventCount(argc, argv);
   makeEvents();
   Py_Initialize();
   PyObject *handler = loadHandler(argv[1]);
   if (handler == NULL)
   {
      PyErr_Print();
      return 2;
   }

   long checksum = 0;
   double start = now();
   for (long i = 0; i < events; i++)
   {
      PyObject *args = PyTuple_New(3);
      PyTuple_SET_ITEM(args, 0, PyLong_FromLong(i));
      PyTuple_SET_ITEM(args, 1, PyUnicode_FromString(eventLine(i)));
      PyTuple_SET_ITEM(args, 2, PyUnicode_FromString(eventAddress(i)));
      PyObject *result = PyObject_Call(handler, args, NULL);
      Py_DECREF(args);
      if (result == NULL)
      {
         PyErr_Print();
         return 1;
      }
      checksum = (checksum + PyLong_AsLong(result)) % 1000003;
      Py_DECREF(result);
   }
   report(events, checksum, now() - start);
   Py_DECREF(handler);
   Py_Finalize();
   return 0;
}
