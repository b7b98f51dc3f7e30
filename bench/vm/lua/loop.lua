dofile(arg[0]:match("(.*/)") .. "common.lua")
local function run()
  local s = 0
  for i = 1, 10000000 do s = s + i end
  return wrap(s)
end
print(run())
