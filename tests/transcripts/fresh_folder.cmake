# Makes the folder that a transcript runs in (FOLDER) afresh, with what the transcript of files cannot
# make itself: an empty folder d/, and a folder sub/ holding inner.txt.
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER}/d ${FOLDER}/sub)
file(WRITE ${FOLDER}/sub/inner.txt "inner")
