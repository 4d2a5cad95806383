# Makes the folder that the transcript of files runs in (FOLDER) afresh, with what the transcript
# cannot make itself: an empty folder d/, and a folder sub/ holding inner.txt.
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER}/d ${FOLDER}/sub)
file(WRITE ${FOLDER}/sub/inner.txt "inner")
