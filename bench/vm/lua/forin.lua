dofile(arg[0]:match("(.*/)") .. "common.lua")
local function run()
  local a = {}
  for i = 0, 999999 do a[#a + 1] = i end
  local s = 0
  for _, v in ipairs(a) do s = s + v end
  return wrap(s)
end
print(run())
