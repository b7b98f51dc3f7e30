local function run()
  local s, n = "", 0
  for i = 0, 199999 do
    s = s .. i
    if #s > 100 then
      local t = s:sub(51, 60)
      n = n + #t
      s = t
    end
  end
  return n * 1000 + #s
end
print(run())
