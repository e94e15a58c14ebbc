/* Calls a Lua 5.4 handler the way a host does on every event: the chunk is loaded and run
   once (it defines onEvent); each event pushes the function and three new argument values,
   calls it with lua_pcall and reads the integer result. */
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
#include <string.h>

#include "events.h"

/* classify(user, octet): a host function the handler calls once per event. */
static int classify(lua_State *L)
{
   size_t length = 0;
   luaL_checklstring(L, 1, &length);
   const char *octet = luaL_checkstring(L, 2);
   lua_pushinteger(L, (lua_Integer)(length * 3 + strtol(octet, NULL, 10)));
   return 1;
}

int main(int argc, char **argv)
{
   long events = eventCount(argc, argv);
   makeEvents();
   char *source = readSource(argv[1]);
   lua_State *L = luaL_newstate();
   luaL_openlibs(L);
   lua_register(L, "classify", classify);
   if (luaL_loadstring(L, source) != LUA_OK || lua_pcall(L, 0, 0, 0) != LUA_OK)
   {
      fprintf(stderr, "%s\n", lua_tostring(L, -1));
      return 2;
   }
   free(source);

   long checksum = 0;
   double start = now();
   for (long i = 0; i < events; i++)
   {
      lua_getglobal(L, "onEvent");
      lua_pushinteger(L, i);
      lua_pushstring(L, eventLine(i));
      lua_pushstring(L, eventAddress(i));
      if (lua_pcall(L, 3, 1, 0) != LUA_OK)
      {
         fprintf(stderr, "%s\n", lua_tostring(L, -1));
         return 1;
      }
      checksum = (checksum + (long)lua_tointeger(L, -1)) % 1000003;
      lua_pop(L, 1);
   }
   report(events, checksum, now() - start);
   lua_close(L);
   return 0;
}
