# End-to-end cases of the cloud answers: fcitx asks the loopback server
# (vetra_cloud_server, its address, host names and test key through the
# cloud's environment overrides) and shows what it answers. "liuqiang" is an
# input the kernel asks about (its syllable pair is not a trusted one; its
# prefix "liuqian" asks nothing); the server holds each answer 1.5 s, so the list is seen before and after it arrives. Needs the
# built system data, as the input method's own cases.
if(NOT ime_data)
  return()
endif()
set(server "$<TARGET_FILE:vetra_cloud_server>")
set(answer_wait sleep 4000)  # the answer has come

# An answer that is not in the list stands second (flag 1) and the highlight
# stays on the first; paging away and back keeps it there.
vetra_e2e(CloudAnswerAtSecondPlace
  RUN ${ime_run} --server "${server} --delay 1500 --word liuqiang=柳强"
  DRIVE ${typing} type liuqiang cands mark ${answer_wait} cands
        expect-at 1 @1 0 expect-at 2 柳强 1 expect-at 3 @2 0
        key = key - cands expect-at 2 柳强 1 key space expect-commit-cand 1)
# Chosen with "2" it is committed and learned: after a restart it comes first.
vetra_e2e(CloudAnswerChosenIsLearned
  RUN ${ime_run} --server "${server} --delay 1500 --word liuqiang=柳强"
  DRIVE ${typing} type liuqiang ${answer_wait} cands expect-at 2 柳强 1 key 2 expect-commit 柳强
        --restart ${again} type liuqiang cands expect-first 柳强)
# An answer equal to the third candidate takes its place; nothing moves.
vetra_e2e(CloudAnswerReplacesItsTwin
  RUN ${ime_run} --server "${server} --delay 1500 --word liuqiang=刘强"
  DRIVE ${typing} type liuqiang cands mark expect-at 3 刘强 0 ${answer_wait} cands
        expect-at 1 @1 0 expect-at 2 @2 0 expect-at 3 刘强 1 expect-at 4 @4 0 expect-at 5 @5 0)
# Answers that come after a reset or after the next key are never shown, and
# the wake-up byte of a dropped answer does not leave fcitx spinning.
vetra_e2e(CloudLateAnswersAreDropped
  RUN ${ime_run} --server "${server} --delay 1500 --word liuqiang=柳强 --word liuqian=柳前"
  DRIVE ${typing} type liuqiang reset ${answer_wait} cpu-idle 2000 100
        type liuqiang key m ${answer_wait} cands expect-no-cloud cpu-idle 2000 100)
# Broken replies (HTTP errors, bad framing, bad seals, bad records) show
# nothing and keys go on being answered.
set(retype)
foreach(i RANGE 1 13)
  list(APPEND retype key BackSpace type g)
endforeach()
vetra_e2e(CloudBrokenRepliesShowNothing
  RUN ${ime_run} --server "${server} --malformed" --expect-server "^ANSWER\t[0-9]+\tword-128"
  DRIVE ${typing} type liuqiang ${retype} sleep 1000 cands expect-no-cloud expect-first 六强 key space expect-commit 六强)
# Without a gateway the cloud is off: the server hears nothing.
vetra_e2e(CloudOffWithoutGateway
  RUN ${ime_run} --server "${server} --no-gateway --word liuqiang=柳强" --expect-no-server "^REQUEST"
  DRIVE ${typing} type liuqiang sleep 1000 cands expect-no-cloud)
# Fast keys: while the first request is answered, only the newest of those
# queued behind it is sent.
vetra_e2e(CloudOnlyTheNewestRequestIsSent
  RUN ${ime_run} --server "${server} --delay 2000"
      --expect-server "^REQUEST\t1\tliuqiang\t" --expect-server "^REQUEST\t2\tliuqiang\t" --expect-no-server "^REQUEST\t3"
  DRIVE --settle 5 ${typing} type liuqiang key BackSpace type g key BackSpace type g sleep 5000)
