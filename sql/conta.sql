/* The replication account ONDARIS, created only when the server has none.
   Accounts belong to the whole Firebird server, not to one database: on a
   server that already holds another store's database the account exists
   and is left as it is. Run as SYSDBA on any database of that server:

       isql-fb -user SYSDBA -password ... -i sql/conta.sql host/3050:/dados/LOJA.FDB
*/
SET TERM ^ ;
EXECUTE BLOCK AS
BEGIN
    IF (NOT EXISTS (SELECT 1 FROM SEC$USERS WHERE SEC$USER_NAME = 'ONDARIS')) THEN
        EXECUTE STATEMENT 'CREATE USER ONDARIS PASSWORD ''quenby''';
END^
SET TERM ; ^
COMMIT;
