-- Empty: the sync tests build their own tables here (database 2 of a pair).
SELECT 1;
