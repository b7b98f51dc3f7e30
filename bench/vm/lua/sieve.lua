local function run()
  local n = 2000000
  local a = {}
  for i = 0, n do a[i] = 1 end
  local count = 0
  for i = 2, n do
    if a[i] ~= 0 then
      count = count + 1
      if i < 1415 then
        for j = i * i, n, i do a[j] = 0 end
      end
    end
  end
  return count
end
print(run())
