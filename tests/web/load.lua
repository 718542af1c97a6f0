-- wrk script: thread N sends case N of the web cases over its one connection,
-- checks every response's status, headers and exact body, and after its
-- share of responses stops and leaves a marker file, so that the caller can
-- end the run early. Arguments: CASES_FILE RESPONSES_PER_THREAD MARKER_PREFIX.

local threads = {}
local thread_count = 0

function setup(thread)
    thread_count = thread_count + 1
    thread:set("case_index", thread_count)
    table.insert(threads, thread)
end

local path, expected_body, limit, marker
responses = 0
wrong = 0

function init(args)
    local index = 0
    for line in io.lines(args[1]) do
        index = index + 1
        if index == case_index then
            local query, body = line:match("^([^|]*)|(.*)$")
            path = "/cgi-bin/handler"
            if query ~= "" then
                path = path .. "?" .. query
            end
            expected_body = body .. "\n"
        end
    end
    limit = tonumber(args[2])
    marker = args[3] .. case_index
end

function request()
    return wrk.format("GET", path)
end

local function header(headers, wanted)
    for name, value in pairs(headers) do
        if name:lower() == wanted then
            return value
        end
    end
    return nil
end

function response(status, headers, body)
    if responses >= limit then
        return
    end
    responses = responses + 1
    if status ~= 200 or body ~= expected_body
        or header(headers, "content-type") ~= "text/plain"
        or header(headers, "pragma") ~= "No-Cache" then
        wrong = wrong + 1
        if wrong <= 3 then
            io.stderr:write(string.format("wrong answer for %s: status %d, body %q\n",
                path:sub(1, 80), status, body:sub(1, 80)))
        end
    end
    if responses == limit then
        io.open(marker, "w"):close()
        wrk.thread:stop()
    end
end

function done(summary, latency, requests)
    local total_responses, total_wrong = 0, 0
    for _, thread in ipairs(threads) do
        total_responses = total_responses + thread:get("responses")
        total_wrong = total_wrong + thread:get("wrong")
    end
    local e = summary.errors
    local errors = e.connect + e.read + e.write + e.status + e.timeout
    io.write(string.format("LOAD responses=%d errors=%d wrong=%d seconds=%.1f\n",
        total_responses, errors, total_wrong, summary.duration / 1e6))
end
